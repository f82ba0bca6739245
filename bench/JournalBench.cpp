#include "JournalBench.h"

#include "BenchSupport.h"
#include "Processes.h"
#include "JournalEvents.h"
#include "JournalFormat.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace bench {

namespace {

void progress(const QString &text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
}

// A journal of a long, mostly sound session, in the journal's own format: six lines a command
// (command, frame, ACK, response, ACK, end), every tenth command a damaged frame and its NAK
// first, every fiftieth a time-out.
bool writeJournal(const QString &path, qint64 lines)
{
    using namespace Journal;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray session = sessionToken(4242, 1);
    const QByteArray command = commandText({0x22, 30000, true, {}}).toUtf8();
    const QByteArray frame = QByteArray::fromHex("0200012203" "20");
    const QByteArray ack(1, '\x06'), nak(1, '\x15');
    const QByteArray damaged = QByteArray::fromHex("0200062025414243" "3f0325"), sound = QByteArray::fromHex("0200062025414243" "3f037f");
    EndEvent timedOut{0x22, 107, QStringLiteral("time-out: no complete response in time"), -1, {}, 1, 30000, {}};
    EndEvent answered{0x22, 0, QStringLiteral("a response was received"), 0x20, QStringLiteral("normal completion"), 0, 61,
                      QByteArray("%ABC?")};
    const QByteArray timedOutText = endText(timedOut).toUtf8(), answeredText = endText(answered).toUtf8();
    QByteArray block;
    qint64 written = 0;
    qint64 ms = 1796601600000; // 2026-12-07T00:00:00Z
    for (qint64 n = 0; written < lines; ++n) {
        const QByteArray t = formatTime(ms);
        auto add = [&](const QByteArray &line) {
            if (written++ < lines)
                block += line + '\n';
        };
        const auto bytes = [&](Direction direction, Kind kind, const QByteArray &data) {
            add(bytesLine(t, kTcpLink, session, direction, kind, data));
        };
        add(eventLine(t, kTcpLink, session, Kind::Command, command));
        bytes(Direction::Out, Kind::CommandFrame, frame);
        bytes(Direction::In, Kind::Ack, ack);
        if (n % 50 == 49) {
            add(eventLine(t, kTcpLink, session, Kind::End, timedOutText));
        } else {
            if (n % 10 == 9) {
                bytes(Direction::In, Kind::BadFrame, damaged);
                bytes(Direction::Out, Kind::Nak, nak);
            }
            bytes(Direction::In, Kind::Response, sound);
            bytes(Direction::Out, Kind::Ack, ack);
            add(eventLine(t, kTcpLink, session, Kind::End, answeredText));
        }
        ms += 63;
        if (block.size() > (1 << 20)) {
            if (file.write(block) != block.size())
                return false;
            block.clear();
        }
    }
    return file.write(block) == block.size();
}

struct Timed
{
    double medianMs = 0;
    qint64 peakRssBytes = 0;
    QString error;
};

// Times the runs; the peak memory comes from bench-peakrss, which the program runs under.
Timed timeRuns(const QString &peakRss, const QStringList &argv, int runs)
{
    Timed timed;
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        const qint64 start = monotonicNs();
        const SpawnResult run = spawnMeasured(QStringList{peakRss} + argv, {}, 600'000);
        const qint64 end = monotonicNs();
        if (!run.ok) {
            timed.error = run.error;
            return timed;
        }
        ms << double(end - start) / 1e6;
        // The program's own output comes first; bench-peakrss's figure is the last line.
        const QList<QByteArray> lines = run.output.trimmed().split('\n');
        timed.peakRssBytes = qMax(timed.peakRssBytes, lines.last().toLongLong() * 1024);
    }
    timed.medianMs = summarize(ms).median;
    return timed;
}

Row failed(const QString &item, const QString &target, const QString &why)
{
    return {item, QStringLiteral("failed: ") + why, target, Verdict::NotMeasured};
}

} // namespace

JournalBenchResult measureJournal(const JournalBenchSetup &setup)
{
    JournalBenchResult result;
    const qint64 lines = setup.quick ? 100'000 : 1'000'000;
    const int runs = setup.quick ? 1 : 5;
    const QString ratioItem = QStringLiteral("8 kestra-journal summary of %L1 lines / grep -c ' -- end '").arg(lines);
    const QString rssItem = QStringLiteral("8 kestra-journal summary, peak RSS at %L1 lines").arg(lines);
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.log"));
    const QString quarter = dir.filePath(QStringLiteral("quarter.log"));
    const QString grep = QStandardPaths::findExecutable(QStringLiteral("grep"));
    progress(QStringLiteral("kestra-journal: writing journals of %1 and %2 lines").arg(lines).arg(lines / 4));
    if (!dir.isValid() || !writeJournal(big, lines) || !writeJournal(quarter, lines / 4)) {
        result.rows << failed(ratioItem, QStringLiteral("≤ 3"), QStringLiteral("the journal could not be written"));
        return result;
    }
    progress(QStringLiteral("kestra-journal summary, %1 runs").arg(runs));
    const Timed summary = timeRuns(setup.peakRss, {setup.journalTool, QStringLiteral("summary"), big}, runs);
    const Timed grepped = timeRuns(setup.peakRss, {grep, QStringLiteral("-c"), QStringLiteral(" -- end "), big}, runs);
    const Timed small = timeRuns(setup.peakRss, {setup.journalTool, QStringLiteral("summary"), quarter}, 1);
    if (!summary.error.isEmpty() || !grepped.error.isEmpty() || !small.error.isEmpty()) {
        const QString why = summary.error + grepped.error + small.error;
        result.rows << failed(ratioItem, QStringLiteral("≤ 3"), why) << failed(rssItem, QStringLiteral("≤ 64 MiB"), why);
        return result;
    }
    const double r = ratio(summary.medianMs, grepped.medianMs);
    result.rows << Row{QStringLiteral("%1, medians (%2 / %3)")
                           .arg(ratioItem, formatMicros(summary.medianMs * 1000), formatMicros(grepped.medianMs * 1000)),
                       formatRatio(r), QStringLiteral("≤ 3"), atMost(r, 3)};
    result.rows << Row{rssItem, formatBytes(double(summary.peakRssBytes)), QStringLiteral("≤ 64 MiB"),
                       atMost(double(summary.peakRssBytes), 64.0 * 1024 * 1024)};
    const double growth = double(summary.peakRssBytes - small.peakRssBytes);
    result.rows << Row{QStringLiteral("8 peak RSS growth from %L1 to %L2 lines (%3 → %4)")
                           .arg(lines / 4)
                           .arg(lines)
                           .arg(formatBytes(double(small.peakRssBytes)), formatBytes(double(summary.peakRssBytes))),
                       formatBytes(growth), QStringLiteral("≤ 2 MiB"), atMost(growth, 2.0 * 1024 * 1024)};
    result.details = QStringLiteral(
                         "### 8. kestra-journal summary of a long journal\n\n"
                         "A generated journal of %L1 lines (%2; a magnetic read repeated, every tenth answer "
                         "damaged once, every fiftieth timed out), read by `kestra-journal summary FILE` and, as "
                         "the yardstick, by `grep -c ' -- end ' FILE`, %3 runs each, the page cache warm. The "
                         "peak RSS is the program's own (wait4 in a small launcher, bench-peakrss), beside the same summary of a quarter of the lines.\n\n")
                         .arg(lines)
                         .arg(formatBytes(double(QFile(big).size())))
                         .arg(runs);
    result.details += markdownTable({"program", "median", "peak RSS"},
                                    {{"kestra-journal summary", formatMicros(summary.medianMs * 1000), formatBytes(double(summary.peakRssBytes))},
                                     {"grep -c ' -- end '", formatMicros(grepped.medianMs * 1000), formatBytes(double(grepped.peakRssBytes))},
                                     {QStringLiteral("kestra-journal summary, %L1 lines").arg(lines / 4), formatMicros(small.medianMs * 1000),
                                      formatBytes(double(small.peakRssBytes))}});
    return result;
}

} // namespace bench
