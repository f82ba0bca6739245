#include "SendOptions.h"

#include "BrindleVersion.h"
#include "protocol/LineSpeeds.h"
#include "transport/LinkEndpoints.h"
#include "transport/RemotePortUrl.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

SendOptions usageError(const QString &message)
{
    SendOptions options;
    options.action = SendOptions::Action::UsageError;
    options.text = QStringLiteral("kestra-send: %1\nTry 'kestra-send --help' for more information.\n").arg(message);
    return options;
}

// The last of the options in names that the command line gave, or an empty string.
QString lastOf(const QCommandLineParser &parser, const QStringList &names)
{
    QString last;
    for (const QString &name : parser.optionNames()) {
        if (names.contains(name))
            last = name;
    }
    return last;
}

QString readTcpTarget(const QString &value, LinkTarget &link)
{
    static const QRegularExpression form(QStringLiteral("^([^:]+)(?::([0-9]+))?$"));
    const QRegularExpressionMatch match = form.match(value);
    if (!match.hasMatch())
        return QStringLiteral("--tcp takes HOST or HOST:PORT, an IPv4 address or a host name (got '%1')").arg(value);
    link.kind = LinkTarget::Kind::Tcp;
    link.host = match.captured(1);
    if (match.hasCaptured(2)) {
        bool ok = false;
        const uint port = match.captured(2).toUInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return QStringLiteral("--tcp: the port must be from 1 to 65535 (got '%1')").arg(match.captured(2));
        link.port = quint16(port);
    }
    return {};
}

// Every option, with the name of its value (none: a switch). The help is sendHelpText(), written
// out whole.
void declareOptions(QCommandLineParser &parser)
{
    static constexpr const char *kOptions[][2] = {
        {"device", "PATH"}, {"com", "N[=PATH]"}, {"tcp", "HOST[:PORT]"}, {"speed", "BPS"}, {"code", "HEX"},
        {"param", "TEXT"}, {"bin", "TEXT"}, {"timeout", "MS"}, {"dsr", ""}, {"no-dsr", ""}, {"json", ""},
        {"journal", "FILE"}, {"journal-redact", ""}, {"keep-going", ""},
    };
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("f"), QStringLiteral("file")}, QString(), QStringLiteral("FILE")));
    for (const auto &[name, value] : kOptions)
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QLatin1String(value)));
}

// Options that name one thing: given twice, one of the two would be dropped unseen.
QString checkGivenOnce(const QCommandLineParser &parser)
{
    for (const char *name : {"device", "com", "tcp", "speed", "code", "param", "bin", "timeout", "journal", "file"}) {
        if (parser.values(QLatin1String(name)).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(QLatin1String(name));
    }
    return {};
}

// --com N, or --com N=PATH: COM N made PATH for this run.
QString readComTarget(const QString &value, LinkTarget &link)
{
    if (value.contains(u'=')) {
        const std::optional<LinkEndpoints::ComAssignment> assignment = LinkEndpoints::readComAssignment(value);
        if (!assignment)
            return QString::fromLatin1(LinkEndpoints::kComAssignmentForm).arg(value);
        link.com = assignment->port;
        link.comPath = assignment->path;
    } else {
        bool ok = false;
        link.com = value.toInt(&ok);
        if (!ok || link.com < LinkEndpoints::kFirstCom || link.com > LinkEndpoints::kLastCom)
            return QStringLiteral("--com takes a port number from %1 to %2 (got '%3')")
                .arg(QString::number(LinkEndpoints::kFirstCom), QString::number(LinkEndpoints::kLastCom), value);
    }
    link.kind = LinkTarget::Kind::Com;
    return {};
}

// The one link and its speed.
QString readLink(const QCommandLineParser &parser, LinkTarget &link)
{
    const auto given = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const int links = int(given("device")) + int(given("com")) + int(given("tcp"));
    if (links == 0)
        return QStringLiteral("no link: name one with --device PATH, --com N or --tcp HOST[:PORT]");
    if (links > 1)
        return QStringLiteral("--device, --com and --tcp exclude each other: name one link");
    if (given("device")) {
        link.kind = LinkTarget::Kind::Device;
        link.device = parser.value(QStringLiteral("device"));
        if (link.device.isEmpty())
            return QStringLiteral("--device takes the path of a serial device");
        if (RemotePortUrl::isRemotePort(link.device))
            if (const QString problem = RemotePortUrl::problem(link.device); !problem.isEmpty())
                return QStringLiteral("--device: ") + problem;
    } else if (const QString error = given("com") ? readComTarget(parser.value(QStringLiteral("com")), link)
                                                  : readTcpTarget(parser.value(QStringLiteral("tcp")), link);
               !error.isEmpty()) {
        return error;
    }
    if (!given("speed"))
        return {};
    if (link.kind == LinkTarget::Kind::Tcp)
        return QStringLiteral("--speed is for a serial link (--device or --com), not --tcp");
    const QString speed = parser.value(QStringLiteral("speed"));
    const std::optional<SpeedCode> speedCode = LineSpeeds::codeFor(speed);
    if (!speedCode)
        return QStringLiteral("--speed takes %1 (got '%2')").arg(LineSpeeds::ratesInWords(), speed);
    link.speedCode = qint32(*speedCode);
    return {};
}

// How every command is sent, and what is written about it.
QString readDefaults(const QCommandLineParser &parser, SendOptions &options)
{
    if (parser.isSet(QStringLiteral("timeout"))) {
        const QString timeout = parser.value(QStringLiteral("timeout"));
        const std::optional<qint32> ms = readTimeoutMs(timeout);
        if (!ms)
            return QStringLiteral("--timeout takes milliseconds from 0 (no limit) to 2147483647 (got '%1')").arg(timeout);
        options.defaults.timeoutMs = *ms;
    }
    options.defaults.dsr = lastOf(parser, {QStringLiteral("dsr"), QStringLiteral("no-dsr")}) != u"no-dsr";
    options.json = parser.isSet(QStringLiteral("json"));
    options.keepGoing = parser.isSet(QStringLiteral("keep-going"));
    if (parser.isSet(QStringLiteral("journal"))) {
        options.journalPath = parser.value(QStringLiteral("journal"));
        if (options.journalPath.isEmpty())
            return QStringLiteral("--journal takes a file name, or - for standard error");
    }
    options.journalRedact = parser.isSet(QStringLiteral("journal-redact"));
    // Alone it would promise a journal without card data where there is no journal at all.
    if (options.journalRedact && options.journalPath.isEmpty())
        return QStringLiteral("--journal-redact goes with --journal FILE");
    return {};
}

// What is sent: a script, one free command, or named operations.
QString readCommands(const QCommandLineParser &parser, SendOptions &options)
{
    const auto given = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const QStringList words = parser.positionalArguments();
    const int sources = int(given("file")) + int(given("code")) + int(!words.isEmpty());
    if ((given("param") || given("bin")) && !given("code"))
        return QStringLiteral("--param and --bin go with --code");
    if (sources == 0)
        return QStringLiteral("nothing to send: give --code HEX, named operations (%1) or -f FILE").arg(operationNames());
    if (sources > 1)
        return QStringLiteral("--code, named operations and -f exclude each other");
    if (given("file")) {
        options.scriptPath = parser.value(QStringLiteral("file"));
        return options.scriptPath.isEmpty() ? QStringLiteral("-f takes a file name, or - for standard input") : QString();
    }
    if (given("code")) {
        FreeCommand command;
        command.code = parser.value(QStringLiteral("code"));
        if (given("param"))
            command.param = parser.value(QStringLiteral("param"));
        if (given("bin"))
            command.bin = parser.value(QStringLiteral("bin"));
        const QString error = planFreeCommand(command, options.defaults, 0, 1, options.commands);
        return error.isEmpty() ? QString() : QStringLiteral("--code: ") + error;
    }
    CommandPlan plan = planOperationWords(words, options.defaults);
    options.commands = plan.commands;
    return plan.error;
}

} // namespace

SendOptions parseSendOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    declareOptions(parser);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    SendOptions options;
    if (parser.isSet(QStringLiteral("help"))) {
        options.action = SendOptions::Action::Help;
        options.text = sendHelpText();
        return options;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.action = SendOptions::Action::Version;
        options.text = QStringLiteral("kestra-send %1\nQt %2\n").arg(QLatin1String(BRINDLE_VERSION), QLatin1String(qVersion()));
        return options;
    }
    QString error = checkGivenOnce(parser);
    if (error.isEmpty())
        error = readLink(parser, options.link);
    if (error.isEmpty())
        error = readDefaults(parser, options);
    if (error.isEmpty())
        error = readCommands(parser, options);
    return error.isEmpty() ? options : usageError(error);
}
