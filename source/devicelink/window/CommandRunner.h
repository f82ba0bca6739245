#pragma once

#include "control/LinkMeaning.h"
#include "window/CardCalls.h"

#include <QByteArray>
#include <QtGlobal>

class ResponseDisplay;

// The one path by which the window executes a device command: show the code, send, wait while
// the window keeps processing its events, derive the result code, fill the response boxes, beep.
// It holds only the control and the display it works on; nothing survives a call, so runs may
// nest (a button pressed during the wait runs its own command to the end first).
class CommandRunner
{
public:
    // Result codes (LinkMeaning::resultCode decides them).
    static constexpr qint32 Completed = ResultCode::Completed;
    static constexpr qint32 TimedOut = ResultCode::TimedOut;
    static constexpr qint32 Failed = ResultCode::Failed; // also: refused

    CommandRunner(CardControl &control, ResponseDisplay &display);

    // responseCode and responseData are written only when the control accepted the command.
    qint32 RunCommand(qint32 code, QByteArray parameter, qint32 timeoutMs, bool dsr,
                      qint32 &responseCode, QByteArray &responseData);

    // Shows "&h <code>" and empties the three other boxes.
    void ShowCommandCode(qint32 code);

    // Called once per click with the last result code. It deliberately changes nothing: it is the
    // place where an operation would react to its outcome, and every button goes through it.
    static void AfterCommand(qint32 &resultCode);

private:
    CardCalls m_calls;
    ResponseDisplay &m_display;
};
