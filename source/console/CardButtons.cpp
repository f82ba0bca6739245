// The fixed card operations behind the buttons of the main window. Each handler frames its
// commands with the gating: DisableButtons first, the commands through the command runner, the
// last result code to AfterCommand, EnableButtons last. No handler looks at a result between
// commands: a refused or failed command shows in the response boxes and the click goes on, except
// where a later command would act on data that did not reach the device (the magnetic write, the
// sample rewrite).

#include "frmMain.h"
#include "ui_frmMain.h"

#include "protocol/CardOperations.h"
#include "OperatorInput.h"
#include "SamplePrint.h"
#include "control/LinkJournal.h"
#include "JournalEvents.h"

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
// either stops the click before anything is sent. The write command is skipped, and the card
// still ejected (it would otherwise stay in the device), when the data command did not complete
// (the device's buffer may then still hold an earlier card's data, which the write would put on
// this card) or when the operator made the time-out box unusable while it ran; after the eject
// the operator is told what was skipped. The buttons are enabled again after any message.
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
    const qint32 dataResult = run(MagneticData.code, parameter.bytes, timeout.value, dsr);

    const QString timeoutText = m_ui->txt_UserTimeout->text();
    timeout = readTimeoutBox(timeoutText);
    const QString skipped = dataResult != CommandRunner::Completed ? staleDataSkip(MagneticData.code, dataResult)
                            : !timeout.ok() ? timeoutRefusedMidway(timeoutText, QString())
                                            : QString();
    if (skipped.isEmpty()) {
        dsr = dsrCheck();
        run(MagneticWrite.code, MagneticWrite.fixedParameter(), timeout.value, dsr);
    } else {
        journalSkipped(MagneticWrite.code, skipped);
    }

    dsr = dsrCheck();
    qint32 result = run(Eject.code, Eject.fixedParameter(), Eject.timeoutMs, dsr);
    CommandRunner::AfterCommand(result);
    if (!skipped.isEmpty())
        return refuseInput(skipped + QStringLiteral("The magnetic write was skipped; the eject was still sent."));
    EnableButtons();
}

// Sends the sample print text, then the rewrite. The print data always goes out with the DSR
// check; only the rewrite follows the option. No eject follows the rewrite. The rewrite is skipped
// when the print data did not complete: it would print what the device's buffer still holds.
void frmMain::cmdRewrite_Click()
{
    DisableButtons();
    qint32 result = run(PrintSample.code, SamplePrintData(), PrintSample.timeoutMs, true);
    if (result != CommandRunner::Completed) {
        const QString skipped = staleDataSkip(PrintSample.code, result);
        journalSkipped(Rewrite.code, skipped);
        CommandRunner::AfterCommand(result);
        return refuseInput(skipped + QStringLiteral("The rewrite was skipped."));
    }
    const bool dsr = dsrCheck();
    result = run(Rewrite.code, Rewrite.fixedParameter(), Rewrite.timeoutMs, dsr);
    CommandRunner::AfterCommand(result);
    EnableButtons();
}

QString frmMain::staleDataSkip(qint32 dataCode, qint32 result)
{
    return QStringLiteral("The data command (&h%1) ended with result %2: the device may still hold an earlier "
                          "card's data. ")
        .arg(QString::number(dataCode, 16).toUpper())
        .arg(result);
}

void frmMain::journalSkipped(qint32 code, const QString &why)
{
    if (m_journal)
        m_journal->event(Journal::Kind::Skipped, Journal::skippedText(quint8(code), QString(), why.trimmed()));
}
