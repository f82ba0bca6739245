// The fixed card operations behind the buttons of the main window. Each handler frames its
// commands with the gating: DisableButtons first, the commands through the command runner, the
// last result code to AfterCommand, EnableButtons last. No handler looks at a result between
// commands: a refused or failed command shows in the response boxes and the click goes on.

#include "frmMain.h"
#include "ui_frmMain.h"

#include "protocol/CardOperations.h"
#include "OperatorInput.h"
#include "SamplePrint.h"

using namespace CardOperations;


void frmMain::runFixedCommand(qint32 code, const QByteArray &parameter, qint32 timeoutMs)
{
    DisableButtons();
    const bool dsr = dsrCheck();
    qint32 result = run(code, parameter, timeoutMs, dsr);
    CommandRunner::AfterCommand(result);
    EnableButtons();
}

void frmMain::cmd_Mg2Read_Click()
{
    runFixedCommand(MagneticRead.code, MagneticRead.fixedParameter(), MagneticRead.timeoutMs);
}

void frmMain::cmd_Clear_Click()
{
    runFixedCommand(BufferClear.code, BufferClear.fixedParameter(), BufferClear.timeoutMs);
}

void frmMain::cmd_Reset_Click()
{
    runFixedCommand(Reset.code, Reset.fixedParameter(), Reset.timeoutMs);
}

void frmMain::cmd_Erase_Click()
{
    runFixedCommand(Erase.code, Erase.fixedParameter(), Erase.timeoutMs);
}

void frmMain::cmd_Exit_Click()
{
    runFixedCommand(Eject.code, Eject.fixedParameter(), Eject.timeoutMs);
}

// Writes the parameter box to the magnetic stripe, then ejects the card. The parameter is read
// once; the time-out box and the DSR option are read again before each command, so that a
// change made while an earlier command runs applies to the later ones.
//
// A time-out box whose value does not fit a 32-bit integer cannot be handed to the control, and
// a parameter with a character the device's code page lacks cannot be sent: found at the start,
// either stops the click before anything is sent. When the operator makes the time-out box
// unusable while the first command runs, the write command is skipped but the card is still
// ejected (it would otherwise stay in the device); after the eject the operator is told what was
// skipped. The buttons are enabled again after any message.
void frmMain::cmdMagwrite_Click()
{
    DisableButtons();
    const ParameterBytes parameter = parameterBytes(m_ui->txt_UserParameter->text());
    if (!parameter.ok())
        return refuseInput(parameter.refusal);

    BoxNumber timeout = readTimeoutBox(m_ui->txt_UserTimeout->text());
    if (!timeout.ok())
        return refuseInput(timeout.refusal);
    bool dsr = dsrCheck();
    run(MagneticData.code, parameter.bytes, timeout.value, dsr);

    const QString timeoutText = m_ui->txt_UserTimeout->text();
    timeout = readTimeoutBox(timeoutText);
    if (timeout.ok()) {
        dsr = dsrCheck();
        run(MagneticWrite.code, MagneticWrite.fixedParameter(), timeout.value, dsr);
    }

    dsr = dsrCheck();
    qint32 result = run(Eject.code, Eject.fixedParameter(), Eject.timeoutMs, dsr);
    CommandRunner::AfterCommand(result);
    if (!timeout.ok())
        return refuseInput(timeoutRefusedMidway(
            timeoutText, QStringLiteral("The magnetic write was skipped; the eject was still sent.")));
    EnableButtons();
}

// Sends the sample print text, then the rewrite. The print data always goes out with the DSR
// check; only the rewrite follows the option. No eject follows the rewrite.
void frmMain::cmdRewrite_Click()
{
    DisableButtons();
    run(PrintSample.code, SamplePrintData(), PrintSample.timeoutMs, true);
    const bool dsr = dsrCheck();
    qint32 result = run(Rewrite.code, Rewrite.fixedParameter(), Rewrite.timeoutMs, dsr);
    CommandRunner::AfterCommand(result);
    EnableButtons();
}
