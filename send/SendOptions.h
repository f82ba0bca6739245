#pragma once

#include "CommandPlan.h"
#include "protocol/LineSpeeds.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Where kestra-send's link goes.
struct LinkTarget
{
    enum class Kind { None, Device, Com, Tcp };
    Kind kind = Kind::None;
    QString device;     // --device PATH
    int com = 0;        // --com N
    QString comPath;    // --com N=PATH: the device of COM N for this run
    QString host;       // --tcp HOST[:PORT]
    quint16 port = 0;   // 0: PLENKO_TCP_PORT, else 10001
    qint32 speedCode = qint32(SpeedCode::Bps9600);
};

// kestra-send's command line, read completely before anything is opened or sent.
struct SendOptions
{
    enum class Action { Run, Help, Version, UsageError };

    Action action = Action::Run;
    QString text; // help, version or the usage error
    LinkTarget link;
    CommandDefaults defaults;
    bool json = false;
    bool keepGoing = false;
    QString journalPath;
    bool journalRedact = false;       // --journal-redact: the journal is written without card data
    QString scriptPath;               // -f; "-" is standard input; empty: the commands below
    QList<PlannedCommand> commands;   // from --code or the named operations
};

// arguments[0] is the program's name.
SendOptions parseSendOptions(const QStringList &arguments);

// The complete --help text.
QString sendHelpText();

// Exit statuses.
namespace SendExit {
constexpr int Completed = 0;
constexpr int TimedOut = 1;
constexpr int Usage = 2;
constexpr int Failed = 3;
constexpr int Interrupted = 130; // SIGINT; SIGTERM and SIGHUP end with 143 and 129 (128 + signal)
constexpr int BrokenPipe = 141;  // standard output's reader went away (128 + SIGPIPE)
}
