// The card operations behind the buttons of the main window. Every button runs its operation's
// steps from the table (protocol/CardOperations), taking parameters, time-outs and DSR checks, and
// deciding which step to skip, by the rules kestra-send plans the same operations with
// (protocol/OperationSteps). Each click is framed by the gating: DisableButtons first, the steps
// through the command runner, the last result code to AfterCommand, EnableButtons last. No
// handler looks at a result between commands: a refused or failed command shows in the response
// boxes and the click goes on, except where a later command would act on data that did not reach
// the device (the magnetic write, the sample rewrite).

#include "frmMain.h"
#include "ui_frmMain.h"

#include "protocol/CardOperations.h"
#include "protocol/OperationSteps.h"
#include "OperatorInput.h"
#include "SamplePrint.h"
#include "control/LinkJournal.h"
#include "JournalEvents.h"

using namespace CardOperations;


void frmMain::cmd_Mg2Read_Click()
{
    runOperation(operation(OperationId::Read));
}

void frmMain::cmd_Clear_Click()
{
    runOperation(operation(OperationId::Clear));
}

void frmMain::cmd_Reset_Click()
{
    runOperation(operation(OperationId::Reset));
}

void frmMain::cmd_Erase_Click()
{
    runOperation(operation(OperationId::Erase));
}

void frmMain::cmd_Exit_Click()
{
    runOperation(operation(OperationId::Eject));
}

// Writes the parameter box to the magnetic stripe, then ejects the card. The eject goes even when
// the write is skipped: the card would otherwise stay in the device.
void frmMain::cmdMagwrite_Click()
{
    runOperation(operation(OperationId::Write), QStringLiteral("The magnetic write was skipped; the eject was still sent."));
}

// Sends the sample print text, then the rewrite. No eject follows the rewrite.
void frmMain::cmdRewrite_Click()
{
    runOperation(operation(OperationId::Sample), QStringLiteral("The rewrite was skipped."));
}

// The parameter box is read once; the time-out box and the DSR option are read again before each
// step, so that a change made while an earlier command runs applies to the later ones.
//
// A time-out box whose value does not fit a 32-bit integer cannot be handed to the control, and
// a parameter with a character the device's code page lacks cannot be sent: found at the start,
// either stops the click before anything is sent. Later, a step is skipped when the table's rule
// says so (the step before did not complete) or when the operator made the time-out box unusable
// while an earlier step ran; the steps after it still go. Once the last step is over the operator
// reads why, followed by skippedNote. The buttons are enabled again after any message.
void frmMain::runOperation(const Operation &operation, const QString &skippedNote)
{
    DisableButtons();
    StepInputs inputs;
    if (operation.takes(Parameter::Operator)) {
        const ParameterBytes parameter = parameterBytes(m_ui->txt_UserParameter->text());
        if (!parameter.ok())
            return refuseInput(parameter.refusal);
        inputs.parameter = parameter.bytes;
    }
    if (operation.takes(Timeout::Operator)) {
        const BoxNumber timeout = readTimeoutBox(m_ui->txt_UserTimeout->text());
        if (!timeout.ok())
            return refuseInput(timeout.refusal);
        inputs.timeoutMs = timeout.value;
    }
    if (operation.takes(Parameter::SamplePrint))
        inputs.samplePrint = SamplePrintData();

    qint32 result = CommandRunner::Completed;
    std::optional<qint32> resultBefore; // empty while no step has been sent, or after a skipped one
    QString told;
    for (qsizetype i = 0; i < qsizetype(operation.steps.size()); ++i) {
        const QString skipped = i > 0 ? stepSkipped(operation, i, resultBefore, inputs) : QString();
        if (!skipped.isEmpty()) {
            if (told.isEmpty())
                told = skipped;
            resultBefore.reset();
            continue;
        }
        inputs.dsrOption = dsrCheck();
        const StepCommand command = commandFor(operation.steps[size_t(i)], inputs);
        result = run(command.code, command.parameter, command.timeoutMs, command.dsr);
        resultBefore = result;
    }
    CommandRunner::AfterCommand(result);
    if (!told.isEmpty())
        return refuseInput(told + skippedNote);
    EnableButtons();
}

// Whether step index of operation is left out, after the steps before it have run: the operator's
// words for it, or empty when it is to be sent. A step that takes the time-out box reads it again
// here (into inputs). A skipped step is noted in the journal as kestra-send notes it.
QString frmMain::stepSkipped(const Operation &operation, qsizetype index, std::optional<qint32> resultBefore,
                             StepInputs &inputs)
{
    const Step &step = operation.steps[size_t(index)];
    const Step &before = operation.steps[size_t(index - 1)];
    QString why;
    QString reason = skipReason(step.needsStepBefore, stepName(operation, index - 1), resultBefore);
    if (!reason.isEmpty()) {
        why = staleDataSkip(before.code, resultBefore);
    } else if (step.timeoutFrom == Timeout::Operator) {
        const QString timeoutText = m_ui->txt_UserTimeout->text();
        const BoxNumber timeout = readTimeoutBox(timeoutText);
        if (timeout.ok())
            inputs.timeoutMs = timeout.value;
        else
            why = timeoutRefusedMidway(timeoutText, QString());
        reason = why.trimmed();
    }
    if (!why.isEmpty() && m_journal)
        m_journal->event(Journal::Kind::Skipped, Journal::skippedText(step.code, stepName(operation, index), reason));
    return why;
}

QString frmMain::staleDataSkip(qint32 dataCode, std::optional<qint32> result)
{
    const QString how = result ? QStringLiteral("ended with result %1").arg(*result) : QStringLiteral("was not sent");
    return QStringLiteral("The data command (&h%1) %2: the device may still hold an earlier card's data. ")
        .arg(QString::number(dataCode, 16).toUpper(), how);
}
