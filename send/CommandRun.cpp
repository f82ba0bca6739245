#include "CommandRun.h"

#include "control/CardControl.h"
#include "control/LinkDiagnostics.h"
#include "control/LinkJournal.h"
#include "control/LinkMeaning.h"
#include "JournalEvents.h"
#include "protocol/OperationSteps.h"
#include "ResultOutput.h"
#include "ResultStream.h"
#include "SendOptions.h"

#include <cstdio>

void printError(const QString &text)
{
    const QByteArray bytes = QStringLiteral("kestra-send: %1\n").arg(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int exitStatusFor(const CommandOutcome &outcome)
{
    if (outcome.result == ResultCode::Completed)
        return SendExit::Completed;
    return outcome.result == ResultCode::TimedOut ? SendExit::TimedOut : SendExit::Failed;
}

int worseExit(int a, int b)
{
    auto rank = [](int status) { return status == SendExit::Failed ? 2 : status == SendExit::TimedOut ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

QString openFailureReason(const LinkDiagnostics *diagnostics, const LinkSession &session, const QString &error)
{
    const QString reason = session.openResult() ? (diagnostics ? diagnostics->lastOpenFailure() : QString()) : error;
    return reason.isEmpty() && session.openResult() ? LinkMeaning::openResult(*session.openResult()) : reason;
}

CommandRun::CommandRun(LinkSession &session, ResultStream &output, const SendOptions &options)
    : m_session(session), m_output(output), m_options(options)
{
}

int CommandRun::run(const QList<PlannedCommand> &commands)
{
    int status = SendExit::Completed;
    int groupStatus = SendExit::Completed;
    m_before = nullptr;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const PlannedCommand &command = commands[i];
        const QString skipped = skipReason(command);
        const int commandStatus = command.reopen      ? reopen(command)
                                  : !skipped.isEmpty() ? skip(command, skipped)
                                                       : send(command);
        if (m_session.isInterrupted() || m_output.failed())
            break;
        groupStatus = worseExit(groupStatus, commandStatus);
        m_before = &command;
        const bool groupEnds = i + 1 == commands.size() || commands[i + 1].group != command.group;
        if (!groupEnds)
            continue;
        status = worseExit(status, groupStatus);
        if (groupStatus != SendExit::Completed && !m_options.keepGoing)
            break;
        groupStatus = SendExit::Completed;
    }
    if (m_output.failed() && m_journal && m_journal->isOpen())
        m_journal->event(Journal::Kind::Stopped, m_output.failureText());
    return status;
}

// Where the recording began a new session. A link that does not open again fails the commands
// after it as not open, as the recorded ones after a loss did.
int CommandRun::reopen(const PlannedCommand &command)
{
    m_resultBefore.reset();
    QString why;
    const bool opened = m_session.reopen(m_options.link, &why);
    if (m_session.isInterrupted())
        return SendExit::Completed;
    if (!opened && !why.isEmpty())
        printError(why);
    const QString link = m_session.describe(m_options.link);
    const std::optional<qint32> result = m_session.openResult();
    m_output.write(m_options.json ? reopenJson(command, link, opened, result,
                                               opened ? QString() : openFailureReason(m_diagnostics, m_session, why))
                                  : reopenLine(command, link, opened, result));
    return opened ? SendExit::Completed : SendExit::Failed;
}

// Nothing is sent; the commands after it (the eject) still go out.
int CommandRun::skip(const PlannedCommand &command, const QString &reason)
{
    m_resultBefore.reset();
    if (m_journal && m_journal->isOpen())
        m_journal->event(Journal::Kind::Skipped, Journal::skippedText(command.code, commandName(command), reason));
    m_output.write(m_options.json ? skippedJson(command, reason) : skippedLine(command, reason));
    return SendExit::Completed;
}

int CommandRun::send(const PlannedCommand &command)
{
    const CommandOutcome outcome = m_session.run(command);
    m_resultBefore = outcome.result;
    m_output.write(m_options.json ? resultJson(command, outcome) : resultLine(command, outcome));
    return exitStatusFor(outcome);
}

// The rule of the window's buttons: only a command of the same operation counts as the step before.
QString CommandRun::skipReason(const PlannedCommand &command) const
{
    if (!m_before || m_before->group != command.group)
        return {};
    return CardOperations::skipReason(command.needsStepBefore, commandName(*m_before), m_resultBefore);
}
