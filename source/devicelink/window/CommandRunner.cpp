#include "window/CommandRunner.h"

#include "protocol/DeviceText.h"
#include "window/CommandEnd.h"
#include "window/HexDisplay.h"
#include "window/ResponseDisplay.h"

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
        m_display.setResultBox(QString::number(ResultCode::Failed));
        return ResultCode::Failed;
    }

    waitForCommandEnd(m_calls);
    const CommandEnd end = readCommandEnd(m_calls);
    responseCode = end.responseCode;
    responseData = end.responseData;

    m_display.setDataBox(decodeDeviceText(end.responseData));
    m_display.setResultBox(QString::number(end.result));
    if (end.errorCode == LinkError::None)
        m_display.setCodeBox(QStringLiteral("&H ") + hexDigits(end.responseCode));
    m_display.beep();
    return end.result;
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
