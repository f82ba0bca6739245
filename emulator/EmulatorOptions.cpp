#include "EmulatorOptions.h"

#include "JournalFormat.h"

#include <QCommandLineParser>

#include <cmath>
#include <limits>

namespace {

// Every option but -h and -v, with the name of its value (none: a switch). The help is
// emulatorHelpText(), written out whole.
constexpr const char *kOptions[][2] = {
    {"tcp", "HOST:PORT"}, {"no-tcp", ""}, {"allow-remote", ""}, {"pty", "PATH"}, {"wire-speed", "BPS"},
    {"time-scale", "F"}, {"reinsert-ms", "MS"}, {"trace", ""}, {"trace-file", "PATH"}, {"surface-png", "PATH"},
    {"fault", "MODE"}, {"fault-count", "N"}, {"fault-mix", "SEED[:RATE]"}, {"mix-timeout", "MS"},
    {"replay", "FILE"}, {"link", "NAME"}, {"session", "N"}, {"answer-ids", ""},
};

void declareOptions(QCommandLineParser &parser)
{
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QString()));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, QString()));
    for (const auto &[name, value] : kOptions)
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QLatin1String(value)));
}

// The options as given, by name.
struct Given
{
    const QCommandLineParser &parser;

    bool has(const char *name) const { return parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser.value(QLatin1String(name)); }
    // Whether name came after other on the command line (or other not at all).
    bool later(const char *name, const char *other) const
    {
        const QStringList given = parser.optionNames();
        return given.lastIndexOf(QLatin1String(name)) > given.lastIndexOf(QLatin1String(other));
    }
};

// Why Qt's reading of the command line failed, in the words kestra-emu has always used: an
// unknown option, or an option that takes a value last of all.
QString parseFailure(const QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        const QString dashes = name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
        return QStringLiteral("unknown option %1%2 (see --help)").arg(dashes, name);
    }
    const QString last = arguments.isEmpty() ? QString() : arguments.constLast();
    for (const auto &[name, value] : kOptions) {
        if (*value && last == QLatin1String("--") + QLatin1String(name))
            return QStringLiteral("%1 needs a value").arg(last);
    }
    return parser.errorText();
}

bool parseHostPort(const QString &text, QHostAddress *host, quint16 *port, QString *error)
{
    QString hostText;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) { // [::1]:10001
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0) {
            *error = QStringLiteral("--tcp: expected [ADDRESS]:PORT, got %1").arg(text);
            return false;
        }
        hostText = text.mid(1, close - 1);
        portText = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *error = QStringLiteral("--tcp: expected HOST:PORT, got %1").arg(text);
            return false;
        }
        hostText = text.left(colon);
        portText = text.mid(colon + 1);
    }
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number > 65535) {
        *error = QStringLiteral("--tcp: %1 is no port number").arg(portText);
        return false;
    }
    if (hostText.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        hostText = QStringLiteral("127.0.0.1");
    if (!host->setAddress(hostText)) {
        *error = QStringLiteral("--tcp: %1 is no IP address").arg(hostText);
        return false;
    }
    *port = quint16(number);
    return true;
}

bool parseInt(const QString &option, const QString &text, int min, int *out, QString *error)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min) {
        *error = QStringLiteral("%1: %2 is not a whole number of at least %3").arg(option, text).arg(min);
        return false;
    }
    *out = value;
    return true;
}

// Where the device listens: TCP, on a loopback address unless allowed, and the pseudo-terminal.
bool readListening(const Given &given, EmulatorOptions &result, QString *error)
{
    if (given.has("tcp") && !parseHostPort(given.value("tcp"), &result.tcpHost, &result.tcpPort, error))
        return false;
    result.tcp = !given.has("no-tcp") || given.later("tcp", "no-tcp");
    result.allowRemote = given.has("allow-remote");
    result.ptyPath = given.value("pty");
    if (given.has("pty") && result.ptyPath.isEmpty()) {
        *error = QStringLiteral("--pty needs a path");
        return false;
    }
    if (given.has("wire-speed") && !parseInt(QStringLiteral("--wire-speed"), given.value("wire-speed"), 0, &result.wireSpeed, error))
        return false;
    if (result.tcp && !result.allowRemote && !result.tcpHost.isLoopback()) {
        *error = QStringLiteral("--tcp: %1 is not a loopback address; add --allow-remote to listen there")
                     .arg(result.tcpHost.toString());
        return false;
    }
    if (!result.tcp && result.ptyPath.isEmpty()) {
        *error = QStringLiteral("nothing to listen on: --no-tcp without --pty");
        return false;
    }
    return true;
}

// How the device behaves when nothing goes wrong, and what it tells about it.
bool readDevice(const Given &given, EmulatorOptions &result, QString *error)
{
    if (given.has("time-scale")) {
        const QString value = given.value("time-scale");
        bool ok = false;
        result.timeScale = value.toDouble(&ok);
        if (!ok || !std::isfinite(result.timeScale) || result.timeScale < 0 || result.timeScale > 1000) {
            *error = QStringLiteral("--time-scale: %1 is not a number from 0 to 1000").arg(value);
            return false;
        }
    }
    if (given.has("reinsert-ms")
        && !parseInt(QStringLiteral("--reinsert-ms"), given.value("reinsert-ms"), std::numeric_limits<int>::min(),
                     &result.reinsertMs, error))
        return false;
    result.trace = given.has("trace");
    result.traceFile = given.value("trace-file");
    result.surfacePng = given.value("surface-png");
    result.answerIds = given.has("answer-ids");
    return true;
}

// What goes wrong on purpose: one fault, for every frame or the first N, or a mix of them.
bool readFaults(const Given &given, EmulatorOptions &result, QString *error)
{
    const QString fault = given.value("fault");
    if (!fault.isEmpty() && !parseFault(fault, &result.fault)) {
        *error = QStringLiteral("--fault: unknown mode %1 (see --help)").arg(fault);
        return false;
    }
    if (given.has("fault-count")) {
        // Alone it would promise faults that never come; a mix draws its own for every frame.
        if (fault.isEmpty()) {
            *error = QStringLiteral("--fault-count goes with --fault MODE");
            return false;
        }
        if (!parseInt(QStringLiteral("--fault-count"), given.value("fault-count"), 0, &result.fault.count, error))
            return false;
    }
    if (given.has("fault-mix") && !parseFaultMix(given.value("fault-mix"), &result.faultMix)) {
        *error = QStringLiteral("--fault-mix: expected SEED or SEED:RATE (RATE from 0 to 1), got %1").arg(given.value("fault-mix"));
        return false;
    }
    if (given.has("mix-timeout")
        && !parseInt(QStringLiteral("--mix-timeout"), given.value("mix-timeout"), 1, &result.faultMix.timeoutMs, error))
        return false;
    if (result.faultMix.enabled && !fault.isEmpty()) {
        *error = QStringLiteral("--fault-mix and --fault exclude each other");
        return false;
    }
    return true;
}

// The journal to answer from and which of its sessions; a replay answers as recorded, so it
// takes no fault.
bool readReplay(const Given &given, EmulatorOptions &result, QString *error)
{
    result.replayPath = given.value("replay");
    if (given.has("link")) {
        result.replayChoice.link = given.value("link").toUtf8();
        if (!Journal::isKnownLinkName(result.replayChoice.link)) {
            *error = QStringLiteral("--link %1: a link is com1 to com9, tcp or device").arg(given.value("link"));
            return false;
        }
    }
    if (given.has("session")) {
        bool ok = false;
        result.replayChoice.session = given.value("session").toInt(&ok);
        if (!ok || result.replayChoice.session < 1) {
            *error = QStringLiteral("--session %1: a session is a number from 1 (kestra-journal summary lists them)")
                         .arg(given.value("session"));
            return false;
        }
    }
    if (!result.replayPath.isEmpty() && (result.faultMix.enabled || !given.value("fault").isEmpty())) {
        *error = QStringLiteral("--replay answers as recorded: it takes no --fault or --fault-mix");
        return false;
    }
    if (result.replayPath.isEmpty() && (!result.replayChoice.link.isEmpty() || result.replayChoice.session > 0)) {
        *error = QStringLiteral("--link and --session choose what --replay replays; they go with it");
        return false;
    }
    return true;
}

} // namespace

QString emulatorHelpText()
{
    return QStringLiteral(
        "Usage: kestra-emu [options]\n"
        "Emulates a Kestra rewritable-card reader/writer on TCP and, optionally, a pseudo-terminal.\n"
        "\n"
        "  --tcp HOST:PORT      listen here (default 127.0.0.1:10001; port 0 picks a free one)\n"
        "  --no-tcp             do not listen on TCP\n"
        "  --allow-remote       allow a HOST that is not a loopback address\n"
        "  --pty PATH           open a pseudo-terminal and link its slave side at PATH\n"
        "  --wire-speed BPS     pace the pseudo-terminal like a serial line of BPS bit/s\n"
        "                       (10 bits per byte, both directions; default 0 = no pacing)\n"
        "  --time-scale F       multiply every operation time by F (default 1; 0 = at once)\n"
        "  --reinsert-ms MS     an ejected card comes back after MS ms (default 2000;\n"
        "                       0 = at once, negative = never)\n"
        "  --trace              trace every frame and byte on stderr\n"
        "  --trace-file PATH    the same trace into PATH\n"
        "  --surface-png PATH   after every rewrite or erase, draw the card's surface into PATH\n"
        "  --fault MODE         misbehave: silent, late:MS, partial, garbage, bad-bcc-once,\n"
        "                       bad-bcc, nak, short-len, close-mid\n"
        "  --fault-count N      apply the --fault to the first N command frames only\n"
        "  --fault-mix SEED[:RATE]  for each command frame, one of the faults above or none,\n"
        "                       drawn from SEED; RATE = share of frames with a fault (default\n"
        "                       0.3); every choice goes into the trace\n"
        "  --mix-timeout MS     the client's time-out that late answers of the mix land\n"
        "                       around: 0.75 to 1.25 times MS (default 1000)\n"
        "  --replay FILE        answer as the device recorded in the link journal FILE did\n"
        "                       (brindle/kestra-send --journal): each command frame is held\n"
        "                       against the next recorded one; a difference is told on stderr\n"
        "                       and in the trace and answered as usual. A recorded loss of\n"
        "                       the link hangs up there; the next TCP connection (or the\n"
        "                       next frame on the pseudo-terminal) plays the next session.\n"
        "                       At the end of the recording it ends by itself once the\n"
        "                       client has closed (or after 1.5 s), with one line that says\n"
        "                       how many matched (exit status 0 only when all did)\n"
        "  --link NAME          replay the sessions on link NAME (tcp, com1-com9, device)\n"
        "  --session N          replay session N alone (kestra-journal summary lists them);\n"
        "                       without either, all sessions, when they ran on one link one\n"
        "                       after the other, as kestra-journal script takes them\n"
        "  --answer-ids         start each response's data with the number of the command\n"
        "                       frame on its link (4 bytes, big-endian) and its command code\n"
        "  -h, --help           show this text\n"
        "  -v, --version        show the version of kestra-emu and of Qt\n"
        "\n"
        "It prints \"kestra-emu: tcp HOST:PORT\", \"kestra-emu: pty PATH\" and then\n"
        "\"kestra-emu: ready\" on stdout. SIGINT, SIGTERM or SIGHUP ends it and removes the link.\n"
        "\n"
        "Exit status:\n"
        "  0  ended by SIGINT, SIGTERM or SIGHUP (a replay: as below), --help, --version;\n"
        "     a replay that ended with every recorded command matched\n"
        "  1  a port or path it cannot use, a --replay journal that cannot be read, or a\n"
        "     replay in which a recorded command diverged or never came\n"
        "  2  a wrong option or value; with --replay also a choice of sessions that is\n"
        "     refused, or sessions on a link it does not listen on\n");
}

bool parseEmulatorOptions(const QStringList &arguments, EmulatorOptions *options, QString *error)
{
    QCommandLineParser parser;
    declareOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("kestra-emu")} + arguments)) {
        *error = parseFailure(parser, arguments);
        return false;
    }
    EmulatorOptions result;
    result.help = parser.isSet(QStringLiteral("help"));
    result.version = parser.isSet(QStringLiteral("version"));
    if (!result.help && !result.version) {
        if (!parser.positionalArguments().isEmpty()) {
            *error = QStringLiteral("unexpected argument '%1' (see --help)").arg(parser.positionalArguments().constFirst());
            return false;
        }
        const Given given{parser};
        if (!readListening(given, result, error) || !readDevice(given, result, error) || !readFaults(given, result, error)
            || !readReplay(given, result, error))
            return false;
    }
    *options = result;
    return true;
}
