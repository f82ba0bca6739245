// How the benchmark driver runs its programs: the emulator's address lines, the result line of a
// benchmark program, a child measured from outside, and the three round-trip clients producing
// results that the driver can use against one emulator.

#include "BenchSupport.h"
#include "Processes.h"

#include "TestHelpers.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

using namespace bench;

class TestBenchProcesses : public QObject
{
    Q_OBJECT
private slots:
    void emulatorAddressLines_data();
    void emulatorAddressLines();
    void resultLine_data();
    void resultLine();
    void childMeasuredFromOutside();
    void childThatFailsOrHangs_data();
    void childThatFailsOrHangs();
    void emulatorStartsOnAFreePortAndAPty();
    void startupProgramsReportTheirWindow_data();
    void startupProgramsReportTheirWindow();
    void clientsAgainstOneEmulator_data();
    void clientsAgainstOneEmulator();
};

void TestBenchProcesses::emulatorAddressLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("port"); // 0: not a TCP line
    QTest::addColumn<QString>("pty");
    QTest::newRow("tcp") << QByteArray("kestra-emu: tcp 127.0.0.1:40123") << 40123 << QString();
    QTest::newRow("tcp, IPv6") << QByteArray("kestra-emu: tcp [::1]:10001") << 10001 << QString();
    QTest::newRow("tcp, port 0") << QByteArray("kestra-emu: tcp 127.0.0.1:0") << 0 << QString();
    QTest::newRow("tcp, port too large") << QByteArray("kestra-emu: tcp 127.0.0.1:70000") << 0 << QString();
    QTest::newRow("pty") << QByteArray("kestra-emu: pty /tmp/x y/ttyKestra") << 0 << QStringLiteral("/tmp/x y/ttyKestra");
    QTest::newRow("pty without a path") << QByteArray("kestra-emu: pty ") << 0 << QString();
    QTest::newRow("ready") << QByteArray("kestra-emu: ready") << 0 << QString();
}

void TestBenchProcesses::emulatorAddressLines()
{
    QFETCH(QByteArray, line);
    QFETCH(int, port);
    QFETCH(QString, pty);
    QCOMPARE(int(EmulatorLauncher::parseTcpLine(line).value_or(0)), port);
    QCOMPARE(EmulatorLauncher::parsePtyLine(line).value_or(QString()), pty);
}

void TestBenchProcesses::resultLine_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("value");
    QTest::newRow("alone") << QByteArray("{\"v\":1}\n") << true << 1;
    QTest::newRow("after progress lines") << QByteArray("warming up\n{\"v\":0}\nstill going\n{\"v\":2}\n") << true << 2;
    QTest::newRow("followed by a plain line") << QByteArray("{\"v\":3}\ndone\n") << true << 3;
    QTest::newRow("without a final newline") << QByteArray("{\"v\":4}") << true << 4;
    // A cut-off last result must not let an older one pass for it.
    QTest::newRow("last one damaged") << QByteArray("{\"v\":5}\n{\"v\":") << false << 0;
    QTest::newRow("none") << QByteArray("nothing here\n") << false << 0;
    QTest::newRow("an array is not a result") << QByteArray("[1,2]\n") << false << 0;
}

void TestBenchProcesses::resultLine()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, found);
    QFETCH(int, value);
    const auto result = lastJsonLine(output);
    QCOMPARE(result.has_value(), found);
    if (found)
        QCOMPARE(result->value("v").toInt(), value);
}

void TestBenchProcesses::childMeasuredFromOutside()
{
    const qint64 before = monotonicNs();
    const SpawnResult r = spawnMeasured({"/bin/sh", "-c", "echo \"$BENCH_T0_NS $EXTRA\""}, {"EXTRA=passed"}, 10000);
    const qint64 after = monotonicNs();
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.exitStatus, 0);
    const QList<QByteArray> fields = r.output.trimmed().split(' ');
    QCOMPARE(fields.size(), 2);
    // The start stamp is this process's monotonic clock, taken just before the spawn.
    const qint64 t0 = fields[0].toLongLong();
    QVERIFY(t0 >= before && t0 <= after);
    QCOMPARE(fields[1], QByteArray("passed"));
    QVERIFY(r.usage.ru_maxrss > 0);
}

void TestBenchProcesses::childThatFailsOrHangs_data()
{
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("non-zero status") << QStringList{"/bin/sh", "-c", "exit 3"} << 10000;
    QTest::newRow("killed by a signal") << QStringList{"/bin/sh", "-c", "kill -9 $$"} << 10000;
    QTest::newRow("no such program") << QStringList{"/nonexistent/bench-program"} << 10000;
    QTest::newRow("hangs past its time") << QStringList{"/bin/sh", "-c", "exec sleep 30"} << 300;
}

void TestBenchProcesses::childThatFailsOrHangs()
{
    QFETCH(QStringList, argv);
    QFETCH(int, timeoutMs);
    QElapsedTimer clock;
    clock.start();
    const SpawnResult r = spawnMeasured(argv, {}, timeoutMs);
    QVERIFY(!r.ok);
    QVERIFY(!r.error.isEmpty());
    QVERIFY2(clock.elapsed() < 10000, "a hanging child must be ended at its time limit");
}

void TestBenchProcesses::emulatorStartsOnAFreePortAndAPty()
{
    Emulator emu(qEnvironmentVariable("KESTRA_EMU"));
    QVERIFY2(emu.start({"--time-scale", "0"}, true, true), qPrintable(emu.errorText()));
    QVERIFY(emu.tcpPort() > 0);
    QVERIFY(QFileInfo::exists(emu.ptyPath()));
    const QString pty = emu.ptyPath();
    emu.stop();
    // Stopped with SIGTERM: the emulator removes its link.
    QVERIFY(!QFileInfo::exists(pty));
}

void TestBenchProcesses::startupProgramsReportTheirWindow_data()
{
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("width"); // 0: whatever the window's own size is
    QTest::addColumn<int>("height");
    QTest::newRow("console") << QStringList{QStringLiteral(BENCH_STARTUP)} << QStringLiteral("console") << 0 << 0;
    QTest::newRow("empty window, the console's size") << QStringList{QStringLiteral(BENCH_EMPTYWINDOW), "602", "432"}
                                                      << QStringLiteral("empty") << 602 << 432;
    QTest::newRow("empty window, another size") << QStringList{QStringLiteral(BENCH_EMPTYWINDOW), "300", "200"}
                                                << QStringLiteral("empty") << 300 << 200;
}

void TestBenchProcesses::startupProgramsReportTheirWindow()
{
    QFETCH(QStringList, argv);
    QFETCH(QString, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    // A probe that never saw its window would hang here until the time limit.
    const SpawnResult r = spawnMeasured(argv, {"QT_QPA_PLATFORM=offscreen"}, 60000);
    QVERIFY2(r.ok, qPrintable(r.error));
    const auto result = lastJsonLine(r.output);
    QVERIFY2(result, r.output.constData());
    QCOMPARE(result->value("kind").toString(), kind);
    // Measured from the driver's clock before the spawn, so it covers the process start too.
    QVERIFY(result->value("shown_ms").toDouble() > 0);
    if (width > 0) {
        QCOMPARE(result->value("width").toInt(), width);
        QCOMPARE(result->value("height").toInt(), height);
    } else {
        QVERIFY(result->value("width").toInt() >= 602);
    }
    QVERIFY(r.usage.ru_maxrss > 0);
}

void TestBenchProcesses::clientsAgainstOneEmulator_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("client");
    QTest::addColumn<QStringList>("fault"); // extra emulator arguments
    const QStringList common{"--count", "5", "--warmup", "2", "--stripe", QString(64, 'Z')};
    const struct
    {
        const char *name;
        QString program;
        QStringList args;
        const char *client;
    } clients[] = {
        {"console", QStringLiteral(BENCH_CONSOLE), QStringList{"roundtrip", "--path", "runner"} + common, "console"},
        {"plain C++", QStringLiteral(BENCH_RAWCLIENT), QStringList{"--port", "@PORT@"} + common, "raw"},
        {"python", QStringLiteral("python3"), QStringList{QStringLiteral(BENCH_PYCLIENT), "--port", "@PORT@"} + common,
         "python"},
    };
    // Every client must recover as the card control does, or its figures would not be comparable.
    const struct
    {
        const char *name;
        QStringList args;
    } faults[] = {
        {"sound line", {}},
        {"every response damaged once", {"--fault", "bad-bcc-once"}},
        {"first two sends refused", {"--fault", "nak", "--fault-count", "2"}},
    };
    for (const auto &c : clients)
        for (const auto &f : faults)
            QTest::addRow("%s, %s", c.name, f.name) << c.program << c.args << QString::fromLatin1(c.client) << f.args;
    QTest::newRow("console, buttons") << QStringLiteral(BENCH_CONSOLE) << QStringList{"roundtrip", "--path", "buttons"} + common
                                      << QStringLiteral("console-buttons") << QStringList();
    QTest::newRow("console, no display") << QStringLiteral(BENCH_CONSOLE)
                                         << QStringList{"roundtrip", "--display", "none"} + common
                                         << QStringLiteral("console-nodisplay") << QStringList();
}

void TestBenchProcesses::clientsAgainstOneEmulator()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(QString, client);
    QFETCH(QStringList, fault);

    EmulatorProcess emu({false, QStringList{"--time-scale", "0", "--reinsert-ms", "0"} + fault});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString port = QString::number(emu.tcpPort());
    args.replaceInStrings(QStringLiteral("@PORT@"), port);

    QString error;
    const auto result = runForJson(program, args, {"PLENKO_TCP_PORT=" + port, "QT_QPA_PLATFORM=offscreen"}, 60000, error);
    QVERIFY2(result, qPrintable(error));
    QCOMPARE(result->value("client").toString(), client);
    QCOMPARE(result->value("failures").toInt(), 0);
    for (const char *series : {"clear", "read"}) {
        const QList<double> samples = samplesFromJson(result->value(series).toArray());
        QCOMPARE(samples.size(), qsizetype(5));
        for (double us : samples)
            QVERIFY(us > 0);
    }
    // The stripe was written, read back and each client's commands reached the device.
    const QList<QByteArray> commands = emu.receivedCommands();
    QVERIFY(commands.contains(QByteArray("9") + QByteArray(64, 'Z')));
    QCOMPARE(commands.count(QByteArray("\"")), 5 + 1); // one read in the warm-up, five timed
    if (!fault.isEmpty()) {
        // The fault really happened: the client answered damaged responses with NAK, or sent a
        // refused frame again.
        const bool damaged = fault.contains("bad-bcc-once");
        int recoveries = 0;
        for (const auto &entry : emu.traceEntries())
            recoveries += damaged ? (entry.direction == QLatin1String("in") && entry.kind == QLatin1String("NAK"))
                                  : (entry.direction == QLatin1String("out") && entry.kind == QLatin1String("NAK"));
        QVERIFY2(damaged ? recoveries >= 5 : recoveries == 2, qPrintable(QString::number(recoveries)));
    }
}

QTEST_GUILESS_MAIN(TestBenchProcesses)
#include "tst_benchprocesses.moc"
