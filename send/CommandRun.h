#pragma once

#include "CommandPlan.h"
#include "LinkSession.h"

#include <QList>
#include <QString>
#include <optional>

class LinkDiagnostics;
class LinkJournal;
class ResultStream;
struct SendOptions;

// "kestra-send: TEXT" on standard error.
void printError(const QString &text);

// The exit status of one command: 0 completed, 1 timed out, 3 failed.
int exitStatusFor(const CommandOutcome &outcome);
// Of two exit statuses the worse: a failure over a time-out over success.
int worseExit(int a, int b);

// Why the link did not open, for the JSON object: the control's reason (diagnostics may be null),
// else what OpenLink's result means, else the reason OpenLink was not reached (a host name that
// does not resolve).
QString openFailureReason(const LinkDiagnostics *diagnostics, const LinkSession &session, const QString &error);

// kestra-send's planned commands over an open link, in order: each one sent, skipped by the card
// operations' rule (CardOperations::skipReason) or, for a script's reopen, the link opened again;
// its line printed, a skipped one also in the journal. The commands of one operation all go out,
// as the window's buttons send them; the run stops after an operation that did not complete
// (unless --keep-going), an interruption, or a line that could not be written (then noted as
// stopped in the journal).
class CommandRun
{
public:
    CommandRun(LinkSession &session, ResultStream &output, const SendOptions &options);
    void setJournal(LinkJournal *journal) { m_journal = journal; }
    void setDiagnostics(const LinkDiagnostics *diagnostics) { m_diagnostics = diagnostics; }

    // The exit status of the commands that ran: the worst of their operations'.
    int run(const QList<PlannedCommand> &commands);

private:
    // Each returns the command's exit status for its operation.
    int reopen(const PlannedCommand &command);
    int skip(const PlannedCommand &command, const QString &reason);
    int send(const PlannedCommand &command);
    QString skipReason(const PlannedCommand &command) const;

    LinkSession &m_session;
    ResultStream &m_output;
    const SendOptions &m_options;
    LinkJournal *m_journal = nullptr;
    const LinkDiagnostics *m_diagnostics = nullptr;
    const PlannedCommand *m_before = nullptr; // the command before, and its result when it was sent
    std::optional<qint32> m_resultBefore;
};
