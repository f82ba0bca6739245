#include "EmulatorOptions.h"

#include "JournalFormat.h"

#include <limits>

#include <cmath>

namespace {

struct Reader
{
    const QStringList &args;
    int index = 0;
    QString *error;

    bool value(const QString &option, QString *out)
    {
        if (index + 1 >= args.size()) {
            *error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        *out = args[++index];
        return true;
    }
};

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
        "  --fault-count N      apply the fault to the first N command frames only\n"
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
        "  --help               show this text\n"
        "  --version            show the version of kestra-emu and of Qt\n"
        "\n"
        "It prints \"kestra-emu: tcp HOST:PORT\", \"kestra-emu: pty PATH\" and then\n"
        "\"kestra-emu: ready\" on stdout. SIGINT or SIGTERM ends it and removes the link.\n");
}

bool parseEmulatorOptions(const QStringList &arguments, EmulatorOptions *options, QString *error)
{
    EmulatorOptions result;
    Reader reader{arguments, 0, error};
    QString faultText;
    int faultCount = -1;
    for (; reader.index < arguments.size(); ++reader.index) {
        const QString option = arguments[reader.index];
        QString value;
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            result.help = true;
        } else if (option == QLatin1String("--version")) {
            result.version = true;
        } else if (option == QLatin1String("--tcp")) {
            if (!reader.value(option, &value) || !parseHostPort(value, &result.tcpHost, &result.tcpPort, error))
                return false;
            result.tcp = true;
        } else if (option == QLatin1String("--no-tcp")) {
            result.tcp = false;
        } else if (option == QLatin1String("--allow-remote")) {
            result.allowRemote = true;
        } else if (option == QLatin1String("--pty")) {
            if (!reader.value(option, &value))
                return false;
            if (value.isEmpty()) {
                *error = QStringLiteral("--pty needs a path");
                return false;
            }
            result.ptyPath = value;
        } else if (option == QLatin1String("--wire-speed")) {
            if (!reader.value(option, &value) || !parseInt(option, value, 0, &result.wireSpeed, error))
                return false;
        } else if (option == QLatin1String("--time-scale")) {
            if (!reader.value(option, &value))
                return false;
            bool ok = false;
            result.timeScale = value.toDouble(&ok);
            if (!ok || !std::isfinite(result.timeScale) || result.timeScale < 0 || result.timeScale > 1000) {
                *error = QStringLiteral("--time-scale: %1 is not a number from 0 to 1000").arg(value);
                return false;
            }
        } else if (option == QLatin1String("--reinsert-ms")) {
            if (!reader.value(option, &value)
                || !parseInt(option, value, std::numeric_limits<int>::min(), &result.reinsertMs, error))
                return false;
        } else if (option == QLatin1String("--trace")) {
            result.trace = true;
        } else if (option == QLatin1String("--trace-file")) {
            if (!reader.value(option, &result.traceFile))
                return false;
        } else if (option == QLatin1String("--surface-png")) {
            if (!reader.value(option, &result.surfacePng))
                return false;
        } else if (option == QLatin1String("--fault")) {
            if (!reader.value(option, &faultText))
                return false;
        } else if (option == QLatin1String("--fault-mix")) {
            if (!reader.value(option, &value))
                return false;
            if (!parseFaultMix(value, &result.faultMix)) {
                *error = QStringLiteral("--fault-mix: expected SEED or SEED:RATE (RATE from 0 to 1), got %1").arg(value);
                return false;
            }
        } else if (option == QLatin1String("--mix-timeout")) {
            if (!reader.value(option, &value) || !parseInt(option, value, 1, &result.faultMix.timeoutMs, error))
                return false;
        } else if (option == QLatin1String("--replay")) {
            if (!reader.value(option, &result.replayPath))
                return false;
        } else if (option == QLatin1String("--link")) {
            if (!reader.value(option, &value))
                return false;
            result.replayChoice.link = value.toUtf8();
            if (!Journal::isKnownLinkName(result.replayChoice.link)) {
                *error = QStringLiteral("--link %1: a link is com1 to com9, tcp or device").arg(value);
                return false;
            }
        } else if (option == QLatin1String("--session")) {
            if (!reader.value(option, &value))
                return false;
            bool ok = false;
            result.replayChoice.session = value.toInt(&ok);
            if (!ok || result.replayChoice.session < 1) {
                *error = QStringLiteral("--session %1: a session is a number from 1 (kestra-journal summary lists them)")
                             .arg(value);
                return false;
            }
        } else if (option == QLatin1String("--answer-ids")) {
            result.answerIds = true;
        } else if (option == QLatin1String("--fault-count")) {
            if (!reader.value(option, &value) || !parseInt(option, value, 0, &faultCount, error))
                return false;
        } else {
            *error = QStringLiteral("unknown option %1 (see --help)").arg(option);
            return false;
        }
    }
    if (!faultText.isEmpty() && !parseFault(faultText, &result.fault)) {
        *error = QStringLiteral("--fault: unknown mode %1 (see --help)").arg(faultText);
        return false;
    }
    result.fault.count = faultCount;
    if (result.faultMix.enabled && !faultText.isEmpty()) {
        *error = QStringLiteral("--fault-mix and --fault exclude each other");
        return false;
    }
    if (!result.replayPath.isEmpty() && (result.faultMix.enabled || !faultText.isEmpty())) {
        *error = QStringLiteral("--replay answers as recorded: it takes no --fault or --fault-mix");
        return false;
    }
    if (result.replayPath.isEmpty() && (!result.replayChoice.link.isEmpty() || result.replayChoice.session > 0)) {
        *error = QStringLiteral("--link and --session choose what --replay replays; they go with it");
        return false;
    }
    if (result.tcp && !result.allowRemote && !result.tcpHost.isLoopback()) {
        *error = QStringLiteral("--tcp: %1 is not a loopback address; add --allow-remote to listen there")
                     .arg(result.tcpHost.toString());
        return false;
    }
    if (!result.help && !result.version && !result.tcp && result.ptyPath.isEmpty()) {
        *error = QStringLiteral("nothing to listen on: --no-tcp without --pty");
        return false;
    }
    *options = result;
    return true;
}
