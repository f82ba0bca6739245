#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class LinkEndpoints;

// The console's command line. It is read before any window or display exists, so that --help,
// --version and --list-ports work on a machine without one, and a mistake ends the program before
// a window opens. Qt's own options (-platform, -style, ...) pass through to the application.
struct ConsoleOptions
{
    enum class Action { Run, Help, Version, ListPorts, UsageError };

    Action action = Action::Run;
    QString text;               // the help or version text, or the usage error
    QMap<int, QString> comPaths; // --com N=PATH
    quint16 tcpPort = 0;        // --tcp-port; 0 when not given
    QString journalPath;        // --journal; empty when not given
    bool journalRedact = false; // --journal-redact: the journal is written without card data
};

// arguments[0] is the program's name.
ConsoleOptions parseConsoleOptions(const QStringList &arguments);

// Makes --com and --tcp-port the program's link endpoints.
void applyConsoleOptions(const ConsoleOptions &options, LinkEndpoints &endpoints);

// Exit statuses of the console.
namespace ConsoleExit {
constexpr int Closed = 0;
constexpr int UntrappedError = 1;
constexpr int Usage = 2;
constexpr int NoDisplay = 3; // no display to show the window on (DisplayCheck.h)
}
