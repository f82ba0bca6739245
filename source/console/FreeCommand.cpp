// The free command: any command code typed in hexadecimal, a parameter text (in BIN mode with
// byte escapes), a time-out and the DSR choice, sent through the command runner.

#include "frmMain.h"
#include "ui_frmMain.h"

#include "OperatorInput.h"

void frmMain::cmd_Send_Click()
{
    DisableButtons();
    const bool bin = m_ui->opt_Bin->isChecked();
    const BoxNumber command = readCommandBox(m_ui->txt_UserCommand->text());
    const QString parameterText = m_ui->txt_UserParameter->text();
    const ParameterBytes parameter = bin ? binParameterBytes(parameterText) : parameterBytes(parameterText);
    const BoxNumber timeout = readTimeoutBox(m_ui->txt_UserTimeout->text());
    const bool dsr = dsrCheck();

    // Values the control cannot take are refused with a message; nothing is sent.
    for (const QString &refusal : {command.refusal, parameter.refusal, timeout.refusal}) {
        if (!refusal.isEmpty())
            return refuseInput(refusal);
    }

    qint32 result = run(command.value, parameter.bytes, timeout.value, dsr);
    CommandRunner::AfterCommand(result);
    EnableButtons();
}
