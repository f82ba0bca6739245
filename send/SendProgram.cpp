#include "SendProgram.h"

#include "InterruptWatcher.h"
#include "transport/LinkEndpoints.h"
#include "control/LinkJournal.h"
#include "JournalEvents.h"
#include "control/LinkMeaning.h"
#include "LinkSession.h"
#include "control/Plenko.h"
#include "ResultOutput.h"
#include "ResultStream.h"
#include "ScriptReader.h"
#include "SendOptions.h"

#include <QFile>

#include <cstdio>

namespace {

void print(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void printError(const QString &text)
{
    print(stderr, QStringLiteral("kestra-send: %1\n").arg(text).toLocal8Bit());
}

// The script's text; false with a usage message when it cannot be read.
bool readScript(const QString &path, QString *text, QString *error)
{
    QFile file;
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("cannot read the script %1: %2").arg(path, file.errorString());
        return false;
    }
    *text = QString::fromUtf8(file.readAll());
    return true;
}

// The worst outcome so far decides the exit status: a failure over a time-out over success.
int exitStatusFor(const CommandOutcome &outcome)
{
    if (outcome.result == ResultCode::Completed)
        return SendExit::Completed;
    return outcome.result == ResultCode::TimedOut ? SendExit::TimedOut : SendExit::Failed;
}

// Why the link did not open, for the JSON object: the control's reason, else what OpenLink's
// result means, else the reason OpenLink was not reached (a host name that does not resolve).
QString openFailureReason(const Plenko &control, const LinkSession &session, const QString &error)
{
    const QString reason = session.openResult() ? control.lastOpenFailure() : error;
    return reason.isEmpty() && session.openResult() ? LinkMeaning::openResult(*session.openResult()) : reason;
}

int worse(int a, int b)
{
    auto rank = [](int status) { return status == SendExit::Failed ? 2 : status == SendExit::TimedOut ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

} // namespace

int runSend(const QStringList &arguments)
{
    SendOptions options = parseSendOptions(arguments);
    switch (options.action) {
    case SendOptions::Action::Help:
    case SendOptions::Action::Version: {
        ResultStream output;
        if (output.write(options.text.toLocal8Bit()))
            return SendExit::Completed;
        printError(output.failureText().section(QLatin1Char(':'), 0, 0));
        return output.exitStatus();
    }
    case SendOptions::Action::UsageError:
        print(stderr, options.text.toLocal8Bit());
        return SendExit::Usage;
    case SendOptions::Action::Run:
        break;
    }
    if (!options.scriptPath.isEmpty()) {
        QString text, error;
        if (!readScript(options.scriptPath, &text, &error)) {
            printError(error);
            return SendExit::Usage;
        }
        const QString name = options.scriptPath == u"-" ? QStringLiteral("-") : options.scriptPath;
        CommandPlan plan = planScript(text, name, options.defaults);
        if (!plan.ok()) {
            print(stderr, (plan.error + QLatin1Char('\n')).toLocal8Bit());
            return SendExit::Usage;
        }
        options.commands = plan.commands;
    }

    if (options.link.kind == LinkTarget::Kind::Tcp && options.link.port == 0) {
        if (const QString wrongPort = LinkEndpoints::tcpPortEnvironmentError(); !wrongPort.isEmpty()) {
            printError(wrongPort);
            return SendExit::Usage;
        }
    }

    LinkJournal journal;
    if (!options.journalPath.isEmpty()) {
        QString reason;
        if (!journal.open(options.journalPath, &reason)) {
            printError(QStringLiteral("cannot write the journal %1: %2").arg(options.journalPath, reason));
            return SendExit::Usage;
        }
        journal.setRedacting(options.journalRedact);
    }
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    LinkEndpoints endpoints;
    endpoints.setMissingPortHint(
        QStringLiteral("name the device with --device PATH or PLENKO_COM%1; brindle --list-ports lists the serial ports"));

    Plenko control(endpoints);
    if (journal.isOpen())
        control.setJournal(&journal);
    LinkSession session(control, endpoints);
    ResultStream output;
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::interrupted, &watcher, [&session] { session.interrupt(); });

    QString error;
    if (!session.open(options.link, &error)) {
        if (session.isInterrupted())
            return watcher.exitStatus();
        if (!error.isEmpty())
            printError(error);
        if (options.json)
            output.write(openFailureJson(session.describe(options.link), session.openResult(),
                                         openFailureReason(control, session, error)));
        return SendExit::Failed;
    }

    int status = SendExit::Completed;
    int groupStatus = SendExit::Completed;
    CommandOutcome previous;
    for (qsizetype i = 0; i < options.commands.size(); ++i) {
        const PlannedCommand &command = options.commands[i];
        const QString skip = i > 0 ? skipReason(command, options.commands[i - 1], previous) : QString();
        if (command.reopen) {
            // Where the recording began a new session. A link that does not open again fails
            // the commands after it as not open, as the recorded ones after a loss did.
            QString why;
            const bool opened = session.reopen(options.link, &why);
            if (session.isInterrupted())
                break;
            if (!opened && !why.isEmpty())
                printError(why);
            const QString link = session.describe(options.link);
            output.write(options.json ? reopenJson(command, link, opened, session.openResult(),
                                                   opened ? QString() : openFailureReason(control, session, why))
                                      : reopenLine(command, link, opened, session.openResult()));
            groupStatus = opened ? SendExit::Completed : SendExit::Failed;
        } else if (!skip.isEmpty()) {
            // Nothing is sent; the commands after it (the eject) still go out.
            if (journal.isOpen())
                journal.event(Journal::Kind::Skipped, Journal::skippedText(command.code, commandName(command), skip));
            output.write(options.json ? skippedJson(command, skip) : skippedLine(command, skip));
        } else {
            previous = session.run(command);
            output.write(options.json ? resultJson(command, previous) : resultLine(command, previous));
            if (session.isInterrupted())
                break;
            groupStatus = worse(groupStatus, exitStatusFor(previous));
        }
        if (output.failed())
            break;
        // The commands of one operation all go out, as the console's buttons send them.
        const bool groupEnds = i + 1 == options.commands.size() || options.commands[i + 1].group != command.group;
        if (!groupEnds)
            continue;
        status = worse(status, groupStatus);
        if (groupStatus != SendExit::Completed && !options.keepGoing)
            break;
        groupStatus = SendExit::Completed;
    }
    if (output.failed() && journal.isOpen())
        journal.event(Journal::Kind::Stopped, output.failureText());
    session.close();
    if (session.isInterrupted())
        return watcher.exitStatus();
    if (output.failed()) {
        printError(output.failureText());
        return output.exitStatus();
    }
    return status;
}
