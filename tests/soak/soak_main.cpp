// plenko-soak: drives the real card control through many commands against kestra-emu's fault
// mix, over loopback TCP and a pseudo-terminal, and checks every command's outcome against the
// emulator's trace. See docs/reliability.md ("Chaos soak").
#include "control/Plenko.h"
#include "SoakCheck.h"
#include "SoakRun.h"
#include "SoakTrace.h"
#include "TestHelpers.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

struct Limits
{
    int slackMs = 200;
    double cpuShare = 0.1;  // of the wall time spent waiting on time-outs; a spinning wait is ~1
    qint64 memoryGrowth = 0;
};

void print(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString counts(const QMap<QString, int> &map)
{
    QStringList parts;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    return parts.join(QLatin1String(", "));
}

// Fault by outcome, as a Markdown table (docs/reliability.md quotes it).
void printTable(const SoakVerdict &verdict)
{
    const QStringList outcomes = verdict.outcomes.keys();
    print(QStringLiteral("  | fault | commands | %1 |").arg(outcomes.join(QLatin1String(" | "))));
    print(QStringLiteral("  |---|---:|%1").arg(QStringLiteral("---:|").repeated(outcomes.size())));
    for (auto it = verdict.table.cbegin(); it != verdict.table.cend(); ++it) {
        QStringList cells;
        for (const QString &outcome : outcomes)
            cells << QString::number(it.value().value(outcome));
        print(QStringLiteral("  | %1 | %2 | %3 |").arg(it.key()).arg(verdict.faults.value(it.key())).arg(cells.join(QLatin1String(" | "))));
    }
    QStringList totals;
    for (const QString &outcome : outcomes)
        totals << QString::number(verdict.outcomes.value(outcome));
    print(QStringLiteral("  | all | %1 | %2 |").arg(verdict.commands).arg(totals.join(QLatin1String(" | "))));
}

bool soak(bool pty, const SoakSettings &base, const QStringList &mixArgs, int wireSpeed, const Limits &limits,
          int maxCases, const QString &keepTrace)
{
    SoakSettings settings = base;
    settings.pty = pty;
    const QString name = pty ? QStringLiteral("pty") : QStringLiteral("tcp");
    QStringList emuArgs = mixArgs;
    if (pty && wireSpeed > 0)
        emuArgs << QStringLiteral("--wire-speed") << QString::number(wireSpeed);
    EmulatorProcess emulator({pty, emuArgs});
    if (!emulator.start()) {
        print(QStringLiteral("soak %1: %2").arg(name, emulator.errorText()));
        return false;
    }
    qputenv("PLENKO_TCP_PORT", QByteArray::number(emulator.tcpPort()));
    qputenv("PLENKO_COM1", emulator.ptyPath().toLocal8Bit());

    std::vector<CommandRecord> records;
    RunFigures figures;
    QString error;
    bool ran = false;
    {
        Plenko control;
        ran = SoakRun(settings).run(control, records, figures, &error);
    }
    emulator.stop();
    if (!keepTrace.isEmpty()) {
        const QString copy = QStringLiteral("%1/soak-%2.trace").arg(keepTrace, name);
        QFile::remove(copy);
        QFile::copy(emulator.tracePath(), copy);
    }
    if (!ran) {
        print(QStringLiteral("soak %1: %2").arg(name, error));
        if (records.empty())
            return false; // otherwise the commands so far are still worth checking
    }
    const SoakTrace trace = SoakTrace::read(emulator.tracePath());
    if (!trace.error.isEmpty()) {
        print(QStringLiteral("soak %1: %2").arg(name, trace.error));
        return false;
    }
    const SoakVerdict verdict = checkSoak(records, trace, settings.timeoutMs, limits.slackMs, maxCases);

    const double cpuShare = figures.waitWallSeconds > 0 ? figures.waitCpuSeconds / figures.waitWallSeconds : 0;
    const qint64 growth = figures.rssAtEnd - figures.rssAfterWarmUp;
    const bool cpuOk = cpuShare <= limits.cpuShare;
    const bool memoryOk = growth <= limits.memoryGrowth;
    const bool reconnectOk = figures.reconnectFailures == 0;

    print(QStringLiteral("soak over %1: %2 commands in %3 s, %4")
              .arg(name)
              .arg(verdict.commands)
              .arg(figures.wallSeconds, 0, 'f', 1)
              .arg(mixArgs.join(QLatin1Char(' '))));
    print(QStringLiteral("  faults (of each command's last frame): %1").arg(counts(verdict.faults)));
    print(QStringLiteral("  outcomes (ErrorCode): %1").arg(counts(verdict.outcomes)));
    printTable(verdict);
    print(QStringLiteral("  reconnections %1 (extra OpenLink attempts %2, failed %3)")
              .arg(figures.reconnections)
              .arg(figures.reconnectRetries)
              .arg(figures.reconnectFailures));
    print(QStringLiteral("  CPU while waiting on time-outs: %1 % of %2 s (limit %3 %); memory growth after warm-up: %4 KB (limit %5 KB)")
              .arg(cpuShare * 100, 0, 'f', 2)
              .arg(figures.waitWallSeconds, 0, 'f', 1)
              .arg(limits.cpuShare * 100, 0, 'f', 0)
              .arg(growth / 1024)
              .arg(limits.memoryGrowth / 1024));
    print(QStringLiteral("  later than time-out + %1 ms: %2; ErrorCode not allowed by the fault: %3; "
                         "misattributed answers: %4; of these mismatches after a timed-out answer (ambiguous interleavings): %5")
              .arg(limits.slackMs)
              .arg(verdict.tooSlow)
              .arg(verdict.disallowed)
              .arg(verdict.misattributed)
              .arg(verdict.ambiguous));
    for (const QString &line : verdict.cases)
        print(QStringLiteral("  case: ") + line);
    const bool passed = ran && verdict.passed() && cpuOk && memoryOk && reconnectOk;
    print(QStringLiteral("  %1").arg(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL")));
    return passed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Thousands of hang-ups on purpose: the control's line for each one would bury the report.
    QLoggingCategory::setFilterRules(QStringLiteral("brindle.link=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Chaos soak of the card control against kestra-emu's fault mix"));
    parser.addHelpOption();
    const QCommandLineOption transport(QStringLiteral("transport"), QStringLiteral("tcp, pty or both"), QStringLiteral("T"), QStringLiteral("both"));
    const QCommandLineOption commands(QStringLiteral("commands"), QStringLiteral("commands per transport"), QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("the fault mix's seed"), QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("share of frames with a fault"), QStringLiteral("R"), QStringLiteral("0.3"));
    const QCommandLineOption timeout(QStringLiteral("timeout-ms"), QStringLiteral("each command's time-out"), QStringLiteral("MS"), QStringLiteral("100"));
    const QCommandLineOption slack(QStringLiteral("slack-ms"), QStringLiteral("how much later than the time-out a command may end"), QStringLiteral("MS"), QStringLiteral("200"));
    const QCommandLineOption wireSpeed(QStringLiteral("wire-speed"), QStringLiteral("pace the pseudo-terminal at BPS (0: no pacing)"), QStringLiteral("BPS"), QStringLiteral("115200"));
    const QCommandLineOption memory(QStringLiteral("memory-kb"), QStringLiteral("allowed growth of resident memory after warm-up"), QStringLiteral("KB"), QStringLiteral("4096"));
    const QCommandLineOption cases(QStringLiteral("cases"), QStringLiteral("mismatches to list"), QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption keep(QStringLiteral("keep-trace"), QStringLiteral("copy the emulator's traces into DIR"), QStringLiteral("DIR"));
    parser.addOptions({transport, commands, seed, rate, timeout, slack, wireSpeed, memory, cases, keep});
    parser.process(app);

    SoakSettings settings;
    settings.commands = parser.value(commands).toInt();
    settings.timeoutMs = parser.value(timeout).toInt();
    Limits limits;
    limits.slackMs = parser.value(slack).toInt();
    limits.memoryGrowth = parser.value(memory).toLongLong() * 1024;
    const QStringList mixArgs{QStringLiteral("--time-scale"), QStringLiteral("0"),
                              QStringLiteral("--reinsert-ms"), QStringLiteral("0"),
                              QStringLiteral("--answer-ids"),
                              QStringLiteral("--fault-mix"), parser.value(seed) + QLatin1Char(':') + parser.value(rate),
                              QStringLiteral("--mix-timeout"), QString::number(settings.timeoutMs)};
    if (settings.commands < 1 || settings.timeoutMs < 1) {
        print(QStringLiteral("--commands and --timeout-ms need positive numbers"));
        return 2;
    }
    const QString which = parser.value(transport);
    bool passed = true;
    if (which == QLatin1String("tcp") || which == QLatin1String("both"))
        passed = soak(false, settings, mixArgs, 0, limits, parser.value(cases).toInt(), parser.value(keep)) && passed;
    if (which == QLatin1String("pty") || which == QLatin1String("both"))
        passed = soak(true, settings, mixArgs, parser.value(wireSpeed).toInt(), limits, parser.value(cases).toInt(),
                      parser.value(keep)) && passed;
    return passed ? 0 : 1;
}
