#pragma once

#include <QString>
#include <QtGlobal>

// What the control's numbers mean, in words, for messages, standard error and the journal.
// One table holds every OpenLink result, SendCommand result, ErrorCode and device status; a
// number the table does not know is named as such rather than guessed at.
namespace LinkMeaning {

QString openResult(qint32 result);
QString sendResult(qint32 result);
QString errorCode(qint32 errorCode);
QString responseStatus(qint32 status);

// The console's result code for a command that the control accepted (ResultCode below).
qint32 resultCode(qint32 errorCode, qint32 responseCode);

} // namespace LinkMeaning

// The console's result codes, as the window shows them and kestra-send reports them.
namespace ResultCode {
constexpr qint32 Completed = 0; // ErrorCode 0 and status 0x20
constexpr qint32 TimedOut = 1;  // ErrorCode 107
constexpr qint32 Failed = -1;   // anything else (a refused command too)
} // namespace ResultCode
