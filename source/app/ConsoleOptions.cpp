#include "ConsoleOptions.h"

#include "BrindleVersion.h"
#include "transport/LinkEndpoints.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

const char *const kDescription =
    "Operator console for Kestra rewritable-card reader/writers: magnetic stripe read and write,\n"
    "print on and erase of the card's rewritable surface, eject, and any device command by hand.\n"
    "The device hangs on a serial port (COM1-COM9) or on the network (Com Setting menu).";

const char *const kEpilog =
    "\nEnvironment:\n"
    "  PLENKO_COM1 ... PLENKO_COM9  device path of COMn (default /dev/ttyS<n-1>); --com wins\n"
    "  PLENKO_TCP_PORT              TCP port of networked devices (default 10001); --tcp-port wins\n"
    "  QT_LOGGING_RULES             \"brindle.link=false\" silences the link's diagnostics on\n"
    "                               standard error, \"brindle.link.info=true\" adds opens and closes\n"
    "\nExit status: 0 the window was closed; 1 an unexpected error ended the program;\n"
    "2 the command line was wrong, PLENKO_TCP_PORT is not a port, or the journal could not be opened;\n"
    "3 there is no display to show the window on.\n"
    "\nSee brindle(1), kestra-send(1) and kestra-emu(1).\n";

// Qt's own options, taken by the application object; listed so that they are not unknown here.
const QStringList kQtOptionsWithValue = {
    QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
    QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"), QStringLiteral("session"), QStringLiteral("display"),
    QStringLiteral("geometry"), QStringLiteral("title"), QStringLiteral("name"), QStringLiteral("style"),
    QStringLiteral("stylesheet"), QStringLiteral("qmljsdebugger"),
};
const QStringList kQtFlags = {
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"), QStringLiteral("sync"),
};

ConsoleOptions usageError(const QString &program, const QString &message)
{
    ConsoleOptions options;
    options.action = ConsoleOptions::Action::UsageError;
    options.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, message);
    return options;
}

} // namespace

ConsoleOptions parseConsoleOptions(const QStringList &arguments)
{
    const QString program = QStringLiteral("brindle");
    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform offscreen): read single-dash words as long
    // options, so that they are recognised rather than split into letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("COMn (N 1-9): N=PATH makes PATH the device of COMn, e.g. "
                                                "--com 1=/dev/ttyUSB0 or --com 1=/dev/serial/by-id/usb-..., or a "
                                                "port behind an RFC 2217 device server, --com 1=rfc2217://HOST:PORT; "
                                                "repeatable."),
                                 QStringLiteral("N=PATH"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"),
                                     QStringLiteral("The TCP port the IP Address dialog connects to (default 10001)."),
                                     QStringLiteral("PORT"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"),
                                       QStringLiteral("List the serial ports, who may open them and where COM1-COM9 "
                                                      "point, then exit."));
    const QCommandLineOption journal(QStringLiteral("journal"),
                                     QStringLiteral("Append a record of everything on the link to FILE (- is "
                                                    "standard error); see docs/journal.md."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption journalRedact(QStringLiteral("journal-redact"),
                                           QStringLiteral("Write the journal with every byte of card data (stripe "
                                                          "data, print text, parameters) replaced, for sites where "
                                                          "card data must never reach the disk; with --journal."));
    parser.addOptions({help, version, com, tcpPort, listPorts, journal, journalRedact});
    for (const QString &name : kQtOptionsWithValue) {
        QCommandLineOption option(name, QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const QString &name : kQtFlags) {
        QCommandLineOption option(name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    if (!parser.parse(arguments))
        return usageError(program, parser.errorText());

    ConsoleOptions options;
    if (parser.isSet(help)) {
        options.action = ConsoleOptions::Action::Help;
        QString text = parser.helpText();
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: ") + program);
        options.text = text + QString::fromLatin1(kEpilog);
        return options;
    }
    if (parser.isSet(version)) {
        options.action = ConsoleOptions::Action::Version;
        options.text = QStringLiteral("brindle %1\nQt %2\n").arg(QLatin1String(BRINDLE_VERSION), QLatin1String(qVersion()));
        return options;
    }

    for (const QString &value : parser.values(com)) {
        const std::optional<LinkEndpoints::ComAssignment> assignment = LinkEndpoints::readComAssignment(value);
        if (!assignment)
            return usageError(program, QString::fromLatin1(LinkEndpoints::kComAssignmentForm).arg(value));
        options.comPaths.insert(assignment->port, assignment->path);
    }
    if (parser.isSet(tcpPort)) {
        bool ok = false;
        const uint port = parser.value(tcpPort).toUInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return usageError(program, QStringLiteral("--tcp-port takes a port from 1 to 65535 (got '%1')")
                                           .arg(parser.value(tcpPort)));
        options.tcpPort = quint16(port);
    }
    if (parser.isSet(journal)) {
        options.journalPath = parser.value(journal);
        if (options.journalPath.isEmpty())
            return usageError(program, QStringLiteral("--journal takes a file name, or - for standard error"));
    }
    // Alone it would promise a journal without card data where there is no journal at all.
    if (parser.isSet(journalRedact) && options.journalPath.isEmpty())
        return usageError(program, QStringLiteral("--journal-redact goes with --journal FILE"));
    options.journalRedact = parser.isSet(journalRedact);
    if (!parser.positionalArguments().isEmpty())
        return usageError(program, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(listPorts))
        options.action = ConsoleOptions::Action::ListPorts;
    return options;
}

void applyConsoleOptions(const ConsoleOptions &options, LinkEndpoints &endpoints)
{
    for (auto it = options.comPaths.cbegin(); it != options.comPaths.cend(); ++it)
        endpoints.setComPath(it.key(), it.value());
    if (options.tcpPort != 0)
        endpoints.setTcpPort(options.tcpPort);
}
