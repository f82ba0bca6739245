// bench-all: runs every benchmark against kestra-emu, prints the table and writes the report.
//
//   bench-all [--out FILE] [--notes FILE] [--quick] [--only 1,3,...]
//
// Ratios are measured in one run, with the series of the clients interleaved in rounds, so that
// a machine whose load changes under the run shifts all of them alike.

#include "BenchSupport.h"
#include "Processes.h"
#include "Report.h"
#include "Ser2netProcess.h"
#include "JournalBench.h"
#include "SendBench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <functional>

using namespace bench;

namespace {

struct Config
{
    bool quick = false;
    QString python;
    QByteArray stripe = QByteArray("0123456789ABCDEF").repeated(4); // 64 bytes of stripe data
};

struct Section
{
    QList<Row> rows;
    QString details; // markdown
};

void progress(const QString &text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
    std::fflush(stderr);
}

Row notMeasured(const QString &item, const QString &target, const QString &why)
{
    return {item, QStringLiteral("failed: ") + why, target, Verdict::NotMeasured};
}

QString fixed(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("n/a");
}

// ---- 1. round trip ----------------------------------------------------------------------
Section roundTrip(const Config &config)
{
    Section section;
    const QString title = QStringLiteral("1 round trip");
    Emulator emu(QStringLiteral(BENCH_KESTRA_EMU));
    if (!emu.start({"--time-scale", "0", "--reinsert-ms", "0"})) {
        section.rows << notMeasured(title, QStringLiteral("a/b ≤ 2, a/c ≤ 1"), emu.errorText());
        return section;
    }
    const QString port = QString::number(emu.tcpPort());
    const int total = config.quick ? 200 : 2000;
    const int rounds = config.quick ? 2 : 4;
    const int perRound = total / rounds;
    const QString stripe = QString::fromLatin1(config.stripe);
    QTemporaryDir journalDir;

    struct Client
    {
        QString key;   // "console", "raw", ...
        QString label; // shown in the details
        QString program;
        QStringList args;
        QStringList env;
    };
    const QStringList common{"--count", QString::number(perRound), "--warmup", "100", "--stripe", stripe};
    QList<Client> clients{
        {"console", "(a) console: RunCommand in the window, Plenko", QStringLiteral(BENCH_CONSOLE),
         QStringList{"roundtrip", "--path", "runner"} + common, {"PLENKO_TCP_PORT=" + port}},
        {"raw", "(b) plain blocking C++ socket client", QStringLiteral(BENCH_RAWCLIENT),
         QStringList{"--port", port} + common, {}},
        {"python", "(c) Python client, standard library", config.python,
         QStringList{QStringLiteral(BENCH_PYCLIENT), "--port", port} + common, {}},
        {"console-buttons", "(a′) console: a click on cmd_Clear / cmd_Mg2Read", QStringLiteral(BENCH_CONSOLE),
         QStringList{"roundtrip", "--path", "buttons"} + common, {"PLENKO_TCP_PORT=" + port}},
        {"console-nodisplay", "(a″) console without its boxes: the same runner and Plenko, a display that shows nothing",
         QStringLiteral(BENCH_CONSOLE), QStringList{"roundtrip", "--display", "none"} + common, {"PLENKO_TCP_PORT=" + port}},
        {"console-journal", "(a‴) console as (a), with the journal on (brindle --journal FILE)", QStringLiteral(BENCH_CONSOLE),
         QStringList{"roundtrip", "--path", "runner", "--journal", journalDir.filePath("journal.log")} + common,
         {"PLENKO_TCP_PORT=" + port}},
    };

    QHash<QString, QList<double>> clear, read;
    QHash<QString, int> failures;
    QStringList errors;
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype k = 0; k < clients.size(); ++k) {
            // A different client leads each round.
            const Client &client = clients[(k + round) % clients.size()];
            progress(QStringLiteral("round trip, round %1/%2: %3").arg(round + 1).arg(rounds).arg(client.key));
            QString error;
            const auto result = runForJson(client.program, client.args, client.env, 600'000, error);
            if (!result) {
                errors << error;
                continue;
            }
            clear[client.key] += samplesFromJson(result->value("clear").toArray());
            read[client.key] += samplesFromJson(result->value("read").toArray());
            failures[client.key] += result->value("failures").toInt();
        }
    }

    QList<QStringList> table;
    for (const Client &client : clients) {
        for (const auto &[name, series] : {std::pair{QStringLiteral("buffer clear (73)"), &clear},
                                           std::pair{QStringLiteral("magnetic read, 64 bytes (34)"), &read}}) {
            const Summary s = summarize(series->value(client.key));
            table << QStringList{client.label, name, QString::number(s.count), formatMicros(s.median),
                                 formatMicros(s.p99), formatMicros(s.mean), QString::number(failures.value(client.key))};
        }
    }
    section.details += QStringLiteral("### 1. Round trip over loopback TCP\n\n"
                                      "%1 commands of each kind per client, in %2 interleaved rounds against one "
                                      "`kestra-emu --time-scale 0`; each round starts with 100 untimed commands. "
                                      "Timed from the first byte of the command frame to the ACK of the response "
                                      "(for the console: the whole `RunCommand` call, display included).\n\n")
                           .arg(total)
                           .arg(rounds);
    section.details += markdownTable({"client", "command", "n", "median", "p99", "mean", "failed"}, table);

    QList<QStringList> ratios;
    for (const auto &[name, series] : {std::pair{QStringLiteral("buffer clear"), &clear},
                                       std::pair{QStringLiteral("magnetic read"), &read}}) {
        const Summary a = summarize(series->value("console"));
        const Summary b = summarize(series->value("raw"));
        const Summary c = summarize(series->value("python"));
        const Summary buttons = summarize(series->value("console-buttons"));
        const Summary bare = summarize(series->value("console-nodisplay"));
        const Summary journaled = summarize(series->value("console-journal"));
        const double ab = ratio(a.median, b.median);
        const double ac = ratio(a.median, c.median);
        section.rows << Row{QStringLiteral("1 %1: a/b, medians (%2 / %3)").arg(name, formatMicros(a.median), formatMicros(b.median)),
                            formatRatio(ab), QStringLiteral("≤ 2"), atMost(ab, 2.0)};
        section.rows << Row{QStringLiteral("1 %1: a/c, medians (%2 / %3)").arg(name, formatMicros(a.median), formatMicros(c.median)),
                            formatRatio(ac), QStringLiteral("≤ 1"), atMost(ac, 1.0)};
        const double journalRatio = ratio(journaled.median, a.median);
        section.rows << Row{QStringLiteral("1 %1: journal on / off, a‴/a, medians (%2 / %3)")
                                .arg(name, formatMicros(journaled.median), formatMicros(a.median)),
                            formatRatio(journalRatio), QStringLiteral("≤ 1.1"), atMost(journalRatio, 1.1)};
        ratios << QStringList{name, formatRatio(ab), formatRatio(ratio(a.p99, b.p99)), formatRatio(ac),
                              formatRatio(ratio(a.p99, c.p99)), formatRatio(ratio(buttons.median, a.median)),
                              formatRatio(ratio(bare.median, b.median)), formatRatio(ratio(bare.median, c.median)),
                              formatRatio(ratio(journaled.median, a.median))};
    }
    section.details += QStringLiteral("\nRatios (a/b and a/c on medians are the targets; p99 ratios for information; "
                                      "a′/a is what the gating around a button's command adds; a″ is the console's "
                                      "path without the painting of its boxes; a‴/a is what the journal costs):\n\n");
    section.details += markdownTable({"command", "a/b median", "a/b p99", "a/c median", "a/c p99", "a′/a median",
                                      "a″/b median", "a″/c median", "a‴/a median"},
                                     ratios);
    int failed = 0;
    for (int n : failures)
        failed += n;
    section.rows << Row{QStringLiteral("1 failed commands (all clients)"), QString::number(failed), QStringLiteral("0"),
                        errors.isEmpty() ? (failed == 0 ? Verdict::Met : Verdict::Missed) : Verdict::NotMeasured};
    if (!errors.isEmpty())
        section.details += QStringLiteral("\nErrors: ") + errors.join(QStringLiteral("; ")) + QLatin1Char('\n');
    return section;
}

// ---- 2. CPU while waiting -----------------------------------------------------------------
Section cpuWhileWaiting(const Config &config)
{
    Section section;
    const int lateMs = config.quick ? 3000 : 10000;
    const int spinMs = config.quick ? 1000 : 3000;
    const int probeMs = config.quick ? 1000 : 5000;
    Emulator emu(QStringLiteral(BENCH_KESTRA_EMU));
    if (!emu.start({"--time-scale", "0", "--reinsert-ms", "0", "--fault", QStringLiteral("late:%1").arg(lateMs)})) {
        section.rows << notMeasured("2 CPU while waiting", "≤ 2 %", emu.errorText());
        return section;
    }
    progress(QStringLiteral("CPU while waiting: %1 s spinning, %2 s waiting, %3 s with probes")
                 .arg(spinMs / 1000.0).arg(lateMs / 1000.0).arg(probeMs / 1000.0));
    QString error;
    const auto result = runForJson(QStringLiteral(BENCH_CONSOLE),
                                   {"wait", "--spin-ms", QString::number(spinMs), "--probe-ms", QString::number(probeMs)},
                                   {"PLENKO_TCP_PORT=" + QString::number(emu.tcpPort())}, 120'000, error);
    if (!result) {
        section.rows << notMeasured("2 CPU while waiting", "≤ 2 %", error);
        return section;
    }
    const QJsonObject spin = result->value("spin").toObject();
    const QJsonObject wait = result->value("wait").toObject();
    const double waitShare = wait.value("share").toDouble(qQNaN());
    const double spinShare = spin.value("share").toDouble(qQNaN());
    const bool answered = result->value("wait_result").toInt(-2) == 0;
    const Summary posted = summaryFromJson(result->value("posted_latency_us").toObject());
    const Summary timer = summaryFromJson(result->value("timer_lateness_us").toObject());

    section.rows << Row{QStringLiteral("2 CPU of the console during a %1 s wait, share of one core").arg(lateMs / 1000),
                        formatPercent(waitShare), QStringLiteral("≤ 2 %"),
                        answered ? atMost(waitShare, 0.02) : Verdict::NotMeasured};
    const double factor = waitShare > 0 ? spinShare / waitShare : (spinShare > 0 ? qInf() : qQNaN());
    section.rows << Row{QStringLiteral("2 busy-poll loop / console wait, CPU share (%1 / %2)")
                            .arg(formatPercent(spinShare), formatPercent(waitShare)),
                        formatRatio(factor), QStringLiteral("≥ 50"), answered ? atLeast(factor, 50.0) : Verdict::NotMeasured};
    section.rows << Row{QStringLiteral("2 event posted from another thread during the wait, handled after (p99)"),
                        formatMicros(posted.p99), QStringLiteral("≤ 5 ms"),
                        posted.count > 0 ? atMost(posted.p99, 5000.0) : Verdict::NotMeasured};
    section.rows << Row{QStringLiteral("2 timer during the wait, tick after its due time (p99)"),
                        formatMicros(timer.p99), QStringLiteral("≤ 5 ms"),
                        timer.count > 0 ? atMost(timer.p99, 5000.0) : Verdict::NotMeasured};

    section.details += QStringLiteral("### 2. CPU while waiting\n\n"
                                      "`kestra-emu --fault late:%1` answers every command %1 ms late. The console's "
                                      "process CPU time (all threads, user and system) over wall time:\n\n")
                           .arg(lateMs);
    section.details += markdownTable(
        {"wait", "wall", "CPU", "share of one core", "outcome"},
        {{QStringLiteral("busy poll: processEvents() and a CommStatus read, no blocking (ended by a %1 ms time-out)").arg(spinMs),
          formatMicros(spin.value("wall_s").toDouble() * 1e6), formatMicros(spin.value("cpu_s").toDouble() * 1e6),
          formatPercent(spinShare),
          QStringLiteral("ErrorCode %1, %2 passes").arg(result->value("spin_error").toInt()).arg(qint64(result->value("spin_passes").toDouble()))},
         {QStringLiteral("console: RunCommand, answer after %1 ms").arg(lateMs),
          formatMicros(wait.value("wall_s").toDouble() * 1e6), formatMicros(wait.value("cpu_s").toDouble() * 1e6),
          formatPercent(waitShare), QStringLiteral("result code %1").arg(result->value("wait_result").toInt())},
         {QStringLiteral("console: RunCommand with the probes below (ended by a %1 ms time-out)").arg(probeMs),
          formatMicros(result->value("probed_wait").toObject().value("wall_s").toDouble() * 1e6),
          formatMicros(result->value("probed_wait").toObject().value("cpu_s").toDouble() * 1e6),
          formatPercent(result->value("probed_wait").toObject().value("share").toDouble()), QString()}});
    section.details += QStringLiteral("\nResponsiveness during the probed wait, every 10 ms:\n\n");
    section.details += markdownTable({"probe", "n", "median", "p99", "max"},
                                     {{"event posted from a second thread → handled", QString::number(posted.count),
                                       formatMicros(posted.median), formatMicros(posted.p99), formatMicros(posted.max)},
                                      {"10 ms precise timer → tick, after its due time", QString::number(timer.count),
                                       formatMicros(timer.median), formatMicros(timer.p99), formatMicros(timer.max)}});
    return section;
}

// ---- 3 and 4. serial line, reconnection -----------------------------------------------------
// The console's sample print on COM1 as env maps it, count times, against its wire time at bps:
// the row and its details.
void samplePrint(Section &section, const QString &rowName, const QString &heading, const QString &how,
                 const QStringList &env, int count, int bps)
{
    QString error;
    const auto result = runForJson(QStringLiteral(BENCH_CONSOLE), {"serial", "--com", "1", "--count", QString::number(count)},
                                   env, 120'000, error);
    if (!result) {
        section.rows << notMeasured(rowName, "within 5 %", error);
        return;
    }
    const Summary s = summarize(samplesFromJson(result->value("samples_us").toArray()));
    const int parameter = int(result->value("parameter_bytes").toDouble());
    const int frameOut = parameter + 1 + 5; // command byte, STX LEN LEN ... ETX BCC
    const int frameBack = 1 + 5;            // status byte only
    const int bytes = frameOut + 1 + frameBack + 1;
    const double wireUs = double(bytes) * 10.0 / bps * 1e6;
    const double deviation = ratio(s.median, wireUs) - 1.0;
    section.rows << Row{QStringLiteral("%1, median end to end vs wire time (%2 vs %3)")
                            .arg(rowName, formatMicros(s.median), formatMicros(wireUs)),
                        QStringLiteral("%1%2 %").arg(deviation >= 0 ? "+" : "").arg(fixed(deviation * 100, 1)),
                        QStringLiteral("within 5 %"),
                        result->value("failures").toInt() == 0 ? within(s.median, wireUs, 0.05) : Verdict::Missed};
    section.details += heading
                       + QStringLiteral("The sample print (command 65, %1 parameter bytes, DSR check on) %2; each print "
                                        "starts on an idle line. Wire time at 10 bits a byte: command frame %3 + ACK 1 + "
                                        "response frame %4 + ACK 1 = %5 bytes = %6.\n\n")
                             .arg(parameter).arg(how).arg(frameOut).arg(frameBack).arg(bytes).arg(formatMicros(wireUs));
    section.details += markdownTable({"n", "min", "median", "p99", "max", "failed"},
                                     {{QString::number(s.count), formatMicros(s.min), formatMicros(s.median),
                                       formatMicros(s.p99), formatMicros(s.max), QString::number(result->value("failures").toInt())}});
}

Section serialAndReconnection(const Config &config, bool serial, bool reconnect)
{
    Section section;
    constexpr int kBps = 38400;
    Emulator emu(QStringLiteral(BENCH_KESTRA_EMU));
    if (!emu.start({"--time-scale", "0", "--reinsert-ms", "0", "--wire-speed", QString::number(kBps)}, false, true)) {
        if (serial)
            section.rows << notMeasured("3 serial line", "within 5 %", emu.errorText());
        if (reconnect)
            section.rows << notMeasured("4 reconnection", "≤ 120 ms", emu.errorText());
        return section;
    }
    const QStringList env{"PLENKO_COM1=" + emu.ptyPath()};

    if (serial) {
        const int count = config.quick ? 5 : 20;
        progress(QStringLiteral("serial line: %1 sample prints at %2 bit/s").arg(count).arg(kBps));
        samplePrint(section, QStringLiteral("3 sample print over a %1 bit/s line").arg(kBps),
                    QStringLiteral("### 3. Serial line\n\n"),
                    QStringLiteral("over `kestra-emu --pty --wire-speed %1 --time-scale 0`, through COM1 at %1 bit/s")
                        .arg(kBps),
                    env, count, kBps);
        // The same through ser2net (RFC 2217) in front of the same pseudo-terminal: what the
        // device server and the Telnet around the bytes add.
        if (!Ser2netProcess::available()) {
            section.rows << notMeasured("3 sample print through ser2net", "within 5 %", Ser2netProcess::skipReason());
        } else {
            Ser2netProcess server({emu.ptyPath()});
            if (!server.start()) {
                section.rows << notMeasured("3 sample print through ser2net", "within 5 %", server.errorText());
            } else {
                progress(QStringLiteral("serial line through ser2net: %1 sample prints").arg(count));
                const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port());
                samplePrint(section, QStringLiteral("3 sample print through ser2net (RFC 2217) to a %1 bit/s line").arg(kBps),
                            QStringLiteral("\n### 3. Serial line through ser2net\n\n"),
                            QStringLiteral("through ser2net 4 (`telnet(rfc2217)`, `chardelay: false`, loopback) to the same pseudo-terminal, "
                                           "COM1 = `%1` at %2 bit/s").arg(url).arg(kBps),
                            {"PLENKO_COM1=" + url}, count, kBps);
            }
        }
    }

    if (reconnect) {
        const int count = config.quick ? 10 : 50;
        progress(QStringLiteral("reconnection: %1 port choices").arg(count));
        QString error;
        const auto result = runForJson(QStringLiteral(BENCH_CONSOLE), {"reconnect", "--com", "1", "--count", QString::number(count)},
                                       env, 120'000, error);
        if (!result) {
            section.rows << notMeasured("4 reconnection", "≤ 120 ms", error);
        } else {
            const Summary s = summarize(samplesFromJson(result->value("samples_us").toArray()));
            const int failures = result->value("failures").toInt();
            section.rows << Row{QStringLiteral("4 ApplyConnection on the pseudo-terminal, p95"), formatMicros(s.p95),
                                QStringLiteral("≤ 120 ms"), failures == 0 ? atMost(s.p95, 120'000.0) : Verdict::Missed};
            section.details += QStringLiteral("\n### 4. Reconnection\n\n"
                                              "`ApplyConnection` (stop, close, settle 50 ms, open, settle 50 ms, start, "
                                              "labels) by choosing COM1 again, with the real `Plenko` on the emulator's "
                                              "pseudo-terminal; a buffer clear after each one checks the link (untimed).\n\n");
            section.details += markdownTable({"n", "min", "median", "p95", "max", "commands failed after it"},
                                             {{QString::number(s.count), formatMicros(s.min), formatMicros(s.median),
                                               formatMicros(s.p95), formatMicros(s.max), QString::number(failures)}});
        }
    }
    section.details += QLatin1Char('\n');
    return section;
}

// ---- 5. start-up and memory ---------------------------------------------------------------
Section startup(const Config &config)
{
    Section section;
    const int pairs = config.quick ? 3 : 12;
    QList<double> consoleMs, emptyMs, consoleKiB, emptyKiB;
    int width = 602, height = 414;
    QStringList errors;
    const QStringList env{"QT_QPA_PLATFORM=offscreen"};
    progress(QStringLiteral("start-up: %1 runs each (and one of each untimed first)").arg(pairs));
    for (int i = 0; i <= pairs; ++i) {
        const SpawnResult console = spawnMeasured({QStringLiteral(BENCH_STARTUP)}, env, 60'000);
        const auto consoleJson = console.ok ? lastJsonLine(console.output) : std::nullopt;
        if (consoleJson) {
            width = consoleJson->value("width").toInt();
            height = consoleJson->value("height").toInt();
        }
        const SpawnResult empty = spawnMeasured(
            {QStringLiteral(BENCH_EMPTYWINDOW), QString::number(width), QString::number(height)}, env, 60'000);
        const auto emptyJson = empty.ok ? lastJsonLine(empty.output) : std::nullopt;
        if (!consoleJson || !emptyJson) {
            errors << (console.ok ? empty.error : console.error);
            continue;
        }
        if (i == 0)
            continue; // caches (fontconfig, the dynamic loader) are warm from here on
        consoleMs << consoleJson->value("shown_ms").toDouble();
        emptyMs << emptyJson->value("shown_ms").toDouble();
        consoleKiB << double(console.usage.ru_maxrss);
        emptyKiB << double(empty.usage.ru_maxrss);
    }
    if (consoleMs.isEmpty()) {
        section.rows << notMeasured("5 start-up", "≤ 1.5×", errors.value(0));
        return section;
    }
    const Summary ct = summarize(consoleMs), et = summarize(emptyMs);
    const Summary cm = summarize(consoleKiB), em = summarize(emptyKiB);
    const double timeRatio = ratio(ct.median, et.median);
    const double memoryRatio = ratio(cm.median, em.median);
    section.rows << Row{QStringLiteral("5 start to window shown, console / empty window (%1 / %2 ms)")
                            .arg(fixed(ct.median, 1), fixed(et.median, 1)),
                        formatRatio(timeRatio), QStringLiteral("≤ 1.5"), atMost(timeRatio, 1.5)};
    section.rows << Row{QStringLiteral("5 peak RSS, console / empty window (%1 / %2)")
                            .arg(formatBytes(cm.median * 1024), formatBytes(em.median * 1024)),
                        formatRatio(memoryRatio), QStringLiteral("≤ 1.3"), atMost(memoryRatio, 1.3)};
    section.details += QStringLiteral("### 5. Start-up and memory\n\n"
                                      "From just before `posix_spawn` to the end of the first expose of the window "
                                      "(the window paints while handling it), offscreen platform; peak RSS is "
                                      "`ru_maxrss` from `wait4`. The console starts as `brindle` does; the empty "
                                      "program links Qt Widgets alone: a `QApplication` with a plain `QWidget` of "
                                      "the console's size (%1 × %2). %3 runs each, alternating, after one untimed "
                                      "run of each.\n\n")
                           .arg(width).arg(height).arg(consoleMs.size());
    section.details += markdownTable({"program", "median start-up", "min", "max", "median peak RSS", "max peak RSS"},
                                     {{"console (`brindle`'s start)", QStringLiteral("%1 ms").arg(fixed(ct.median, 1)),
                                       QStringLiteral("%1 ms").arg(fixed(ct.min, 1)), QStringLiteral("%1 ms").arg(fixed(ct.max, 1)),
                                       formatBytes(cm.median * 1024), formatBytes(cm.max * 1024)},
                                      {"empty Qt Widgets window", QStringLiteral("%1 ms").arg(fixed(et.median, 1)),
                                       QStringLiteral("%1 ms").arg(fixed(et.min, 1)), QStringLiteral("%1 ms").arg(fixed(et.max, 1)),
                                       formatBytes(em.median * 1024), formatBytes(em.max * 1024)}});
    if (!errors.isEmpty())
        section.details += QStringLiteral("\nErrors: ") + errors.join(QStringLiteral("; ")) + QLatin1Char('\n');
    section.details += QLatin1Char('\n');
    return section;
}

// ---- 6. soak ------------------------------------------------------------------------------
Section soak(const Config &config)
{
    Section section;
    const int count = config.quick ? 5000 : 100000;
    Emulator emu(QStringLiteral(BENCH_KESTRA_EMU));
    if (!emu.start({"--time-scale", "0", "--reinsert-ms", "0"})) {
        section.rows << notMeasured("6 soak", "≤ 2 MiB", emu.errorText());
        return section;
    }
    progress(QStringLiteral("soak: %1 commands").arg(count));
    QString error;
    const auto result = runForJson(QStringLiteral(BENCH_CONSOLE),
                                   {"soak", "--count", QString::number(count), "--stripe", QString::fromLatin1(config.stripe)},
                                   {"PLENKO_TCP_PORT=" + QString::number(emu.tcpPort())}, 600'000, error);
    if (!result) {
        section.rows << notMeasured("6 soak", "≤ 2 MiB", error);
        return section;
    }
    const double start = result->value("rss_start").toDouble();
    const double end = result->value("rss_end").toDouble();
    const int failures = result->value("failures").toInt();
    const double wall = result->value("wall_s").toDouble();
    section.rows << Row{QStringLiteral("6 RSS growth over %1 commands (%2 → %3)").arg(count).arg(formatBytes(start), formatBytes(end)),
                        formatBytes(end - start), QStringLiteral("≤ 2 MiB"), atMost(end - start, 2.0 * 1024 * 1024)};
    section.rows << Row{QStringLiteral("6 failed commands in the soak"), QString::number(failures), QStringLiteral("0"),
                        failures == 0 ? Verdict::Met : Verdict::Missed};

    QList<QStringList> series;
    for (const QJsonValue &point : result->value("rss_series").toArray()) {
        const QJsonArray pair = point.toArray();
        series << QStringList{QString::number(qint64(pair.at(0).toDouble())), formatBytes(pair.at(1).toDouble()),
                              formatBytes(pair.at(1).toDouble() - start)};
    }
    // Only a handful of checkpoints make the table.
    QList<QStringList> shown;
    for (qsizetype i = 0; i < series.size(); i += qMax<qsizetype>(1, series.size() / 5))
        shown << series[i];
    if (!series.isEmpty() && shown.last() != series.last())
        shown << series.last();
    section.details += QStringLiteral("### 6. Soak\n\n"
                                      "%1 commands in a row through `RunCommand` in the window (buffer clear and "
                                      "magnetic read of 64 bytes by turns), `kestra-emu --time-scale 0`, after 2,000 "
                                      "commands of warm-up. %2 s in all, %3 a command on average; peak RSS %4. "
                                      "Resident memory (from `/proc/self/statm`) after so many commands:\n\n")
                           .arg(count).arg(fixed(wall, 1), formatMicros(wall * 1e6 / count),
                                           formatBytes(result->value("rss_peak").toDouble()));
    section.details += markdownTable({"commands", "RSS", "growth"}, shown);
    section.details += QLatin1Char('\n');
    return section;
}

QString pythonVersion(const QString &python)
{
    QProcess process;
    process.start(python, {"--version"});
    if (!process.waitForFinished(10000))
        return QStringLiteral("unknown");
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
}

QString readFileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Runs the benchmarks against kestra-emu and writes the report.");
    parser.addHelpOption();
    parser.addOptions({{"out", "report file to write", "FILE", QStringLiteral(BENCH_DEFAULT_OUT)},
                       {"notes", "hand-written analysis appended to the report", "FILE", QStringLiteral(BENCH_NOTES)},
                       {"quick", "small counts, for a quick check of the suite itself"},
                       {"only", "comma-separated items to run (1-8)", "LIST", "1,2,3,4,5,6,7,8"}});
    parser.process(app);

    Config config;
    config.quick = parser.isSet("quick");
    config.python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    const QStringList only = parser.value("only").split(',', Qt::SkipEmptyParts);
    auto wanted = [&only](int item) { return only.contains(QString::number(item)); };

    const MachineInfo machine = readMachineInfo();
    const QString loadBefore = loadAverage();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const qint64 t0 = monotonicNs();

    QList<Section> sections;
    if (wanted(1))
        sections << roundTrip(config);
    if (wanted(2))
        sections << cpuWhileWaiting(config);
    if (wanted(3) || wanted(4))
        sections << serialAndReconnection(config, wanted(3), wanted(4));
    if (wanted(5))
        sections << startup(config);
    if (wanted(6))
        sections << soak(config);
    if (wanted(7)) {
        const SendBenchResult send = measureSend({QStringLiteral(BENCH_KESTRA_EMU), QStringLiteral(BENCH_SEND),
                                                  QStringLiteral(BENCH_RAWCLIENT), config.python,
                                                  QStringLiteral(BENCH_PYCLIENT), config.stripe, config.quick});
        sections << Section{send.rows, send.details};
    }
    if (wanted(8)) {
        const JournalBenchResult journal = measureJournal({QStringLiteral(BENCH_JOURNAL), QStringLiteral(BENCH_PEAKRSS), config.quick});
        sections << Section{journal.rows, journal.details};
    }

    QList<Row> rows;
    QString details;
    for (const Section &section : sections) {
        rows += section.rows;
        details += section.details + QLatin1Char('\n');
    }
    const QStringList header{"item", "figure", "target", "verdict"};
    const QList<QStringList> cells = rowsAsCells(rows);
    std::printf("\n%s", qPrintable(plainTable(header, cells)));

    const double runSeconds = double(monotonicNs() - t0) / 1e9;
    QString report;
    report += QStringLiteral("# Performance\n\n"
                             "Written by `bench/run.sh` (the program `bench-all`); do not edit by hand. The "
                             "analysis at the end comes from `bench/performance-notes.md`.%1\n\n")
                  .arg(config.quick ? QStringLiteral(" **Quick run: small counts, figures are rough.**") : QString());
    report += QStringLiteral("## Machine\n\n");
    report += markdownTable({"", ""},
                            {{"date", started.toString(Qt::ISODate)},
                             {"CPU", machine.cpuModel},
                             {"cores (nproc)", QString::number(machine.cores)},
                             {"memory", formatBytes(double(machine.memoryBytes))},
                             {"system", machine.kernel},
                             {"Qt", QString::fromLatin1(qVersion())},
                             {"Python", pythonVersion(config.python)},
                             {"load average (1, 5, 15 min) before / after", loadBefore + " / " + loadAverage()},
                             {"run time", QStringLiteral("%1 s").arg(fixed(runSeconds, 0))}});
    report += QStringLiteral("\nThe machine is shared: figures are noisy, ratios measured in one run are the ones "
                             "to read.\n\n## Summary\n\n");
    report += markdownTable(header, cells);
    report += QStringLiteral("\n## Details\n\n") + details;
    const QString notes = readFileText(parser.value("notes"));
    if (!notes.isEmpty())
        report += notes;

    QSaveFile out(parser.value("out"));
    if (!out.open(QIODevice::WriteOnly) || out.write(report.toUtf8()) < 0 || !out.commit()) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(parser.value("out")));
        return 1;
    }
    std::printf("\nwritten: %s (%.0f s)\n", qPrintable(parser.value("out")), runSeconds);
    return 0;
}
