#include "SendProgram.h"

#include "CommandRun.h"
#include "InterruptWatcher.h"
#include "transport/LinkEndpoints.h"
#include "control/LinkJournal.h"
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

// --help and --version on standard output, a usage error on standard error: the run that does
// not open a link.
int answerWithoutRunning(const SendOptions &options)
{
    if (options.action == SendOptions::Action::UsageError) {
        print(stderr, options.text.toLocal8Bit());
        return SendExit::Usage;
    }
    ResultStream output;
    if (output.write(options.text.toLocal8Bit()))
        return SendExit::Completed;
    printError(output.failureText().section(QLatin1Char(':'), 0, 0));
    return output.exitStatus();
}

// The script's commands in place of the command line's, all planned before anything opens;
// false after saying why the script cannot be run.
bool planRun(SendOptions &options)
{
    if (options.scriptPath.isEmpty())
        return true;
    QString text, error;
    if (!readScript(options.scriptPath, &text, &error)) {
        printError(error);
        return false;
    }
    const CommandPlan plan = planScript(text, options.scriptPath, options.defaults);
    if (!plan.ok()) {
        print(stderr, (plan.error + QLatin1Char('\n')).toLocal8Bit());
        return false;
    }
    options.commands = plan.commands;
    return true;
}

// The journal, when one is asked for; false after saying why it cannot be written.
bool openJournal(const SendOptions &options, LinkJournal &journal)
{
    if (options.journalPath.isEmpty())
        return true;
    QString reason;
    if (!journal.open(options.journalPath, &reason)) {
        printError(QStringLiteral("cannot write the journal %1: %2").arg(options.journalPath, reason));
        return false;
    }
    journal.setRedacting(options.journalRedact);
    return true;
}

// Opens the link; when it does not open, says why (with --json also as an object) and returns
// false.
bool openLink(const SendOptions &options, const LinkDiagnostics &diagnostics, LinkSession &session, ResultStream &output)
{
    QString error;
    if (session.open(options.link, &error))
        return true;
    if (session.isInterrupted())
        return false;
    if (!error.isEmpty())
        printError(error);
    if (options.json)
        output.write(openFailureJson(session.describe(options.link), session.openResult(),
                                     openFailureReason(&diagnostics, session, error)));
    return false;
}

// The exit status once the link is closed: an interruption's, else a failed output's, else the
// commands'.
int endRun(LinkSession &session, const ResultStream &output, const InterruptWatcher &watcher, int status)
{
    session.close();
    if (session.isInterrupted())
        return watcher.exitStatus();
    if (output.failed()) {
        printError(output.failureText());
        return output.exitStatus();
    }
    return status;
}

} // namespace

int runSend(const QStringList &arguments)
{
    SendOptions options = parseSendOptions(arguments);
    if (options.action != SendOptions::Action::Run)
        return answerWithoutRunning(options);
    if (!planRun(options))
        return SendExit::Usage;

    if (options.link.kind == LinkTarget::Kind::Tcp && options.link.port == 0) {
        if (const QString wrongPort = LinkEndpoints::tcpPortEnvironmentError(); !wrongPort.isEmpty()) {
            printError(wrongPort);
            return SendExit::Usage;
        }
    }

    LinkJournal journal;
    if (!openJournal(options, journal))
        return SendExit::Usage;
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

    if (!openLink(options, control, session, output))
        return session.isInterrupted() ? watcher.exitStatus() : SendExit::Failed;
    CommandRun run(session, output, options);
    run.setJournal(journal.isOpen() ? &journal : nullptr);
    run.setDiagnostics(&control);
    return endRun(session, output, watcher, run.run(options.commands));
}
