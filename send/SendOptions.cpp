#include "SendOptions.h"

#include "protocol/LineSpeeds.h"
#include "transport/LinkEndpoints.h"

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

} // namespace

SendOptions parseSendOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("help"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("version"));
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("device"), QStringLiteral("PATH"));
    const QCommandLineOption com(QStringLiteral("com"), QStringLiteral("com"), QStringLiteral("N[=PATH]"));
    const QCommandLineOption tcp(QStringLiteral("tcp"), QStringLiteral("tcp"), QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("speed"), QStringLiteral("BPS"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("code"), QStringLiteral("HEX"));
    const QCommandLineOption param(QStringLiteral("param"), QStringLiteral("param"), QStringLiteral("TEXT"));
    const QCommandLineOption bin(QStringLiteral("bin"), QStringLiteral("bin"), QStringLiteral("TEXT"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("timeout"), QStringLiteral("MS"));
    const QCommandLineOption dsr(QStringLiteral("dsr"), QStringLiteral("dsr"));
    const QCommandLineOption noDsr(QStringLiteral("no-dsr"), QStringLiteral("no-dsr"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("json"));
    const QCommandLineOption journal(QStringLiteral("journal"), QStringLiteral("journal"), QStringLiteral("FILE"));
    const QCommandLineOption journalRedact(QStringLiteral("journal-redact"), QStringLiteral("journal-redact"));
    const QCommandLineOption keepGoing(QStringLiteral("keep-going"), QStringLiteral("keep-going"));
    const QCommandLineOption file({QStringLiteral("f"), QStringLiteral("file")}, QStringLiteral("file"), QStringLiteral("FILE"));
    parser.addOptions({help, version, device, com, tcp, speed, code, param, bin, timeout, dsr, noDsr, json, journal,
                       journalRedact, keepGoing, file});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    SendOptions options;
    if (parser.isSet(help)) {
        options.action = SendOptions::Action::Help;
        options.text = sendHelpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.action = SendOptions::Action::Version;
        options.text = QStringLiteral("kestra-send 2.50\nQt %1\n").arg(QString::fromLatin1(qVersion()));
        return options;
    }
    for (const QCommandLineOption *single : {&device, &com, &tcp, &speed, &code, &param, &bin, &timeout, &journal, &file}) {
        if (parser.values(*single).size() > 1)
            return usageError(QStringLiteral("--%1 is given more than once").arg(single->names().constLast()));
    }

    // The link.
    const int links = int(parser.isSet(device)) + int(parser.isSet(com)) + int(parser.isSet(tcp));
    if (links == 0)
        return usageError(QStringLiteral("no link: name one with --device PATH, --com N or --tcp HOST[:PORT]"));
    if (links > 1)
        return usageError(QStringLiteral("--device, --com and --tcp exclude each other: name one link"));
    LinkTarget &link = options.link;
    if (parser.isSet(device)) {
        link.kind = LinkTarget::Kind::Device;
        link.device = parser.value(device);
        if (link.device.isEmpty())
            return usageError(QStringLiteral("--device takes the path of a serial device"));
    } else if (parser.isSet(com)) {
        const QString value = parser.value(com);
        if (value.contains(u'=')) {
            const std::optional<LinkEndpoints::ComAssignment> assignment = LinkEndpoints::readComAssignment(value);
            if (!assignment)
                return usageError(QString::fromLatin1(LinkEndpoints::kComAssignmentForm).arg(value));
            link.com = assignment->port;
            link.comPath = assignment->path;
        } else {
            bool ok = false;
            link.com = value.toInt(&ok);
            if (!ok || link.com < LinkEndpoints::kFirstCom || link.com > LinkEndpoints::kLastCom)
                return usageError(QStringLiteral("--com takes a port number from %1 to %2 (got '%3')")
                                      .arg(QString::number(LinkEndpoints::kFirstCom),
                                           QString::number(LinkEndpoints::kLastCom), value));
        }
        link.kind = LinkTarget::Kind::Com;
    } else if (const QString error = readTcpTarget(parser.value(tcp), link); !error.isEmpty()) {
        return usageError(error);
    }
    if (parser.isSet(speed)) {
        if (link.kind == LinkTarget::Kind::Tcp)
            return usageError(QStringLiteral("--speed is for a serial link (--device or --com), not --tcp"));
        const std::optional<SpeedCode> speedCode = LineSpeeds::codeFor(parser.value(speed));
        if (!speedCode)
            return usageError(QStringLiteral("--speed takes %1 (got '%2')")
                                  .arg(LineSpeeds::ratesInWords(), parser.value(speed)));
        link.speedCode = qint32(*speedCode);
    }

    // How commands are sent.
    if (parser.isSet(timeout)) {
        const std::optional<qint32> ms = readTimeoutMs(parser.value(timeout));
        if (!ms)
            return usageError(QStringLiteral("--timeout takes milliseconds from 0 (no limit) to 2147483647 (got '%1')")
                                  .arg(parser.value(timeout)));
        options.defaults.timeoutMs = *ms;
    }
    options.defaults.dsr = lastOf(parser, {QStringLiteral("dsr"), QStringLiteral("no-dsr")}) != u"no-dsr";
    options.json = parser.isSet(json);
    options.keepGoing = parser.isSet(keepGoing);
    if (parser.isSet(journal)) {
        options.journalPath = parser.value(journal);
        if (options.journalPath.isEmpty())
            return usageError(QStringLiteral("--journal takes a file name, or - for standard error"));
    }
    // Alone it would promise a journal without card data where there is no journal at all.
    if (parser.isSet(journalRedact) && options.journalPath.isEmpty())
        return usageError(QStringLiteral("--journal-redact goes with --journal FILE"));
    options.journalRedact = parser.isSet(journalRedact);

    // What is sent: a script, one free command, or named operations.
    const QStringList words = parser.positionalArguments();
    const int sources = int(parser.isSet(file)) + int(parser.isSet(code)) + int(!words.isEmpty());
    if ((parser.isSet(param) || parser.isSet(bin)) && !parser.isSet(code))
        return usageError(QStringLiteral("--param and --bin go with --code"));
    if (sources == 0)
        return usageError(QStringLiteral("nothing to send: give --code HEX, named operations (%1) or -f FILE")
                              .arg(operationNames()));
    if (sources > 1)
        return usageError(QStringLiteral("--code, named operations and -f exclude each other"));
    if (parser.isSet(file)) {
        options.scriptPath = parser.value(file);
        if (options.scriptPath.isEmpty())
            return usageError(QStringLiteral("-f takes a file name, or - for standard input"));
        return options;
    }
    if (parser.isSet(code)) {
        FreeCommand command;
        command.code = parser.value(code);
        if (parser.isSet(param))
            command.param = parser.value(param);
        if (parser.isSet(bin))
            command.bin = parser.value(bin);
        if (const QString error = planFreeCommand(command, options.defaults, 0, 1, options.commands); !error.isEmpty())
            return usageError(QStringLiteral("--code: ") + error);
        return options;
    }
    CommandPlan plan = planOperationWords(words, options.defaults);
    if (!plan.ok())
        return usageError(plan.error);
    options.commands = plan.commands;
    return options;
}
