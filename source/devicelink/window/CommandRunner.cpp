#include "window/CommandRunner.h"

#include "protocol/DeviceText.h"
#include "window/HexDisplay.h"
#include "window/ResponseDisplay.h"

#include <QCoreApplication>
#include <QEventLoop>

CommandRunner::CommandRunner(CardControl &control, ResponseDisplay &display)
    : m_calls(control), m_display(display)
{
}

qint32 CommandRunner::RunCommand(qint32 code, QByteArray parameter, qint32 timeoutMs, bool dsr,
                                 qint32 &responseCode, QByteArray &responseData)
{
    // The control receives references to the runner's own copies: whatever it writes back into
    // them stays here.
    QByteArray localParameter = std::move(parameter);
    ShowCommandCode(code);

    if (m_calls.SendCommand(code, localParameter, timeoutMs, dsr) != 0) {
        // Refused: nothing runs. The outputs and the response boxes keep what they had, and
        // there is no beep; the link is stopped so that a later connection change starts clean.
        m_calls.StopLink();
        m_display.setResultBox(QStringLiteral("-1"));
        return Failed;
    }

    waitWhileRunning();

    // From here to the return no events are processed, so every value belongs to one command.
    qint32 result = Failed;
    const qint32 errorCode = m_calls.ErrorCode();
    if (errorCode == LinkError::None)
        result = (m_calls.ResponseCode() == kResponseNormal) ? Completed : Failed;
    else if (errorCode == LinkError::TimedOut)
        result = TimedOut;

    responseCode = m_calls.ResponseCode();
    responseData = m_calls.ResponseData();

    m_display.setDataBox(decodeDeviceText(responseData));
    m_display.setResultBox(QString::number(result));
    if (errorCode == LinkError::None)
        m_display.setCodeBox(QStringLiteral("&H ") + hexDigits(responseCode));
    m_display.beep();
    return result;
}

void CommandRunner::waitWhileRunning()
{
    // One pass over what is pending, also for a command that has already ended; after that,
    // block until the next event instead of spinning. The control changes CommStatus only from
    // inside event processing, so every change wakes this loop.
    QCoreApplication::processEvents();
    while (m_calls.CommStatus() == LinkStatus::Busy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void CommandRunner::ShowCommandCode(qint32 code)
{
    m_display.setCommandBox(QStringLiteral("&h ") + hexDigits(code));
    m_display.setCodeBox(QString());
    m_display.setDataBox(QString());
    m_display.setResultBox(QString());
}

void CommandRunner::AfterCommand(qint32 &resultCode)
{
    Q_UNUSED(resultCode);
}
