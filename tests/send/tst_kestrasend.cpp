#include "protocol/CardOperations.h"
#include "protocol/DeviceText.h"
#include "protocol/Frame.h"
#include "SamplePrint.h"
#include "TestHelpers.h"

#include <QJsonDocument>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The kestra-send program against kestra-emu, over loopback TCP and a pseudo-terminal: the frames
// on the wire, the exit statuses, the JSON output and Ctrl-C. Nothing here is timed.

namespace {

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished runSend(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    process.start(qEnvironmentVariable("KESTRA_SEND"), args);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QStringList tcpLink(const EmulatorProcess &emu)
{
    return {"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
}

// The frames of a named operation as the table gives them (text: an operator's TEXT, as the
// bytes it must become).
QList<QByteArray> framesOf(const char *name, const QByteArray &text = {})
{
    QList<QByteArray> frames;
    for (const CardOperations::Step &step : CardOperations::findOperation(QString::fromLatin1(name))->steps) {
        QByteArray parameter = step.fixedParameter();
        if (step.parameterFrom == CardOperations::Parameter::Operator)
            parameter = text;
        else if (step.parameterFrom == CardOperations::Parameter::SamplePrint)
            parameter = SamplePrintData();
        frames << encodeFrame(char(step.code) + parameter);
    }
    return frames;
}

QList<QByteArray> framesReceived(const EmulatorProcess &emu)
{
    QList<QByteArray> frames;
    for (const EmulatorProcess::TraceEntry &entry : emu.traceEntries()) {
        if (entry.direction == u"in" && entry.kind == u"frame")
            frames << entry.bytes;
    }
    return frames;
}

} // namespace

class TestKestraSend : public QObject
{
    Q_OBJECT
private slots:
    void framesOnTheWire_data();
    void framesOnTheWire();
    void usageErrorSendsNothing_data();
    void usageErrorSendsNothing();
    void exitStatusUnderFaults_data();
    void exitStatusUnderFaults();
    void jsonParsesBack();
    void signalAbortsAndCloses_data();
    void signalAbortsAndCloses();
};

void TestKestraSend::framesOnTheWire_data()
{
    QTest::addColumn<QString>("link"); // tcp, pty (--device PATH) or com1 (--com 1=PATH)
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("exitCode");
    // The wave dash in its JIS form (U+301C), as a Linux input method types it, goes out as CP932's 81 60.
    const QString japanese = QStringLiteral("カード〜");
    const QByteArray japaneseCp932("\x83\x4a\x81\x5b\x83\x68\x81\x60");
    for (const char *link : {"tcp", "pty"}) {
        for (const char *name : {"read", "eject", "clear", "reset", "erase", "sample"})
            QTest::addRow("%s %s", link, name) << link << QStringList{name} << framesOf(name)
                                               << (name == QByteArray("read") ? 3 : 0); // a blank stripe: status 33
        QTest::addRow("%s write, then read", link)
            << link << QStringList{"write", japanese, "read"} << framesOf("write", japaneseCp932) + framesOf("read") << 0;
        QTest::addRow("%s --bin", link) << link << QStringList{"--code", "39", "--bin", "$02A$ffB$"}
                                        << QList<QByteArray>{encodeFrame(QByteArray("\x39\x02" "A\xff" "B\x00", 6))} << 0;
        QTest::addRow("%s --param", link) << link << QStringList{"--code", "41", "--param", japanese}
                                          << QList<QByteArray>{encodeFrame('A' + japaneseCp932)} << 0;
    }
    QTest::addRow("--com 1=PATH write, then read") << "com1" << QStringList{"write", japanese, "read"}
                                                    << framesOf("write", japaneseCp932) + framesOf("read") << 0;
}

void TestKestraSend::framesOnTheWire()
{
    QFETCH(QString, link);
    QFETCH(QStringList, commands);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, exitCode);
    EmulatorProcess emu({link != u"tcp", kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QStringList serial{"--speed", "38400", "--no-dsr"};
    const QStringList linkArgs = link == u"tcp" ? tcpLink(emu)
                                 : link == u"pty" ? QStringList{"--device", emu.ptyPath()} + serial
                                                  : QStringList{"--com", "1=" + emu.ptyPath()} + serial;
    const Finished run = runSend(linkArgs + commands);
    QVERIFY2(run.exitCode == exitCode, run.out + run.err);
    QCOMPARE(framesReceived(emu), frames);
    QCOMPARE(run.out.count('\n'), frames.size());
}

void TestKestraSend::usageErrorSendsNothing_data()
{
    QTest::addColumn<QStringList>("args"); // LINK stands for the emulator's TCP link
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("errorHas");
    QTest::newRow("bad speed") << QStringList{"--device", "/dev/null", "--speed", "1200", "read"} << QByteArray() << "--speed";
    QTest::newRow("code 100") << QStringList{"LINK", "--code", "100"} << QByteArray() << "'100'";
    QTest::newRow("param and bin") << QStringList{"LINK", "--code", "41", "--param", "a", "--bin", "b"} << QByteArray()
                                   << "exclude";
    QTest::newRow("no link") << QStringList{"read"} << QByteArray() << "no link";
    QTest::newRow("--com 0=PATH") << QStringList{"--com", "0=/dev/null", "read"} << QByteArray() << "N=PATH";
    QTest::newRow("--com 1= without a path") << QStringList{"--com", "1=", "read"} << QByteArray() << "'1='";
    QTest::newRow("--com =PATH without a number") << QStringList{"--com", "=/dev/null", "read"} << QByteArray()
                                                  << "N from 1 to 9";
    QTest::newRow("--com 1=PATH and --tcp") << QStringList{"--com", "1=/dev/null", "LINK", "read"} << QByteArray()
                                            << "exclude";
    QTest::newRow("unknown option") << QStringList{"LINK", "--fast", "read"} << QByteArray() << "fast";
    QTest::newRow("unknown operation") << QStringList{"LINK", "read", "fly"} << QByteArray() << "'fly'";
    QTest::newRow("bad timeout") << QStringList{"LINK", "--timeout", "soon", "read"} << QByteArray() << "'soon'";
    QTest::newRow("script with a bad line") << QStringList{"LINK", "-f", "-"} << QByteArray("read\nclear\nwrite\n")
                                            << "-:3: write needs its TEXT";
}

void TestKestraSend::usageErrorSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, script);
    QFETCH(QString, errorHas);
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    QStringList expanded;
    for (const QString &arg : args)
        expanded += arg == u"LINK" ? tcpLink(emu) : QStringList{arg};
    const Finished run = runSend(expanded, script);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(errorHas.toUtf8()), run.err);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(!emu.trace().contains("connected"), emu.trace());
}

void TestKestraSend::exitStatusUnderFaults_data()
{
    QTest::addColumn<QStringList>("emulator");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("outputHas");
    QTest::addColumn<int>("lines");
    // The first command fails; the run stops there, so the second is never sent.
    const QByteArray twoCommands = "code 49\nread\n";
    QTest::newRow("silent: time-out") << QStringList{"--fault", "silent"} << QStringList{} << twoCommands << 1
                                      << QByteArray("result 1, time-out") << 1;
    QTest::newRow("nak: refused") << QStringList{"--fault", "nak"} << QStringList{} << twoCommands << 3
                                  << QByteArray("result -1, the device refused") << 1;
    QTest::newRow("close-mid: link lost") << QStringList{"--fault", "close-mid"} << QStringList{} << twoCommands << 3
                                          << QByteArray("result -1, the link was lost") << 1;
    // A failure outranks a time-out whatever their order.
    QTest::newRow("keep-going: time-out, then failure")
        << QStringList{"--fault", "silent", "--fault-count", "1"} << QStringList{"--keep-going"}
        << QByteArray("code 49\ncode 99\n") << 3 << QByteArray("line 2 code 99: status 3") << 2;
}

void TestKestraSend::exitStatusUnderFaults()
{
    QFETCH(QStringList, emulator);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, script);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, outputHas);
    QFETCH(int, lines);
    EmulatorProcess emu({false, kFast + emulator});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const Finished run = runSend(tcpLink(emu) + options + QStringList{"--timeout", "500", "-f", "-"}, script);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.contains(outputHas), run.out);
    QCOMPARE(run.out.count('\n'), lines);
}

// Every byte of the response survives the JSON: quotes, a backslash, a byte CP932 cannot decode
// (shown as U+FFFD, exact in data_hex) and a line feed.
void TestKestraSend::jsonParsesBack()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const Finished run = runSend(tcpLink(emu) + QStringList{"--json", "-f", "-"},
                                 "code 39 --bin '$22$5C$FF$0A'\ncode 31 --param 2\n\nread  # the stripe back\n");
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QJsonParseError error;
    const QJsonObject read = QJsonDocument::fromJson(lines.last(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(read.value("line").toInt(), 4);
    QCOMPARE(read.value("operation").toString(), QStringLiteral("read"));
    QCOMPARE(read.value("code").toInt(), int(DeviceCommand::MagneticRead));
    QCOMPARE(read.value("status").toInt(), int(DeviceStatus::Normal));
    QCOMPARE(read.value("data").toString(), QStringLiteral("\"\\\uFFFD\n"));
    QCOMPARE(read.value("data_hex").toString(), QStringLiteral("225cff0a"));
    QCOMPARE(read.value("error").toInt(-1), 0);
    QCOMPARE(read.value("result").toInt(-2), 0);
    QVERIFY(read.value("elapsed_ms").isDouble());
    QCOMPARE(QJsonDocument::fromJson(lines.first()).object().value("parameter_hex").toString(), QStringLiteral("225cff0a"));
}

void TestKestraSend::signalAbortsAndCloses_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("Ctrl-C") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
}

// The running command is aborted, the link closed and the journal's last lines written.
void TestKestraSend::signalAbortsAndCloses()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    EmulatorProcess emu({false, kFast + QStringList{"--fault", "silent"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString journal = emu.directory() + "/journal.log";
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               tcpLink(emu) + QStringList{"--journal", journal, "--timeout", "0", "read", "clear"});
    QVERIFY(send.waitForStarted(10000));
    QVERIFY(emu.waitForTrace(" in frame ", 20000));
    ::kill(pid_t(send.processId()), signal);
    QVERIFY(send.waitForFinished(30000));
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), exitCode);
    const QByteArray out = send.readAllStandardOutput();
    QVERIFY2(out.contains("read: code 22, no status") && out.contains("abandoned"), out);
    QCOMPARE(out.count('\n'), 1);
    QVERIFY2(emu.waitForTrace("tcp#1 -- event closed", 20000), emu.trace());
    QFile record(journal);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = withoutSessions(record.readAll()).trimmed().split('\n');
    QVERIFY2(lines.size() >= 2 && lines.last().contains(" tcp -- close ") &&
                 lines[lines.size() - 2].contains(" tcp -- end code 22, error 106"),
             record.fileName().toUtf8());
}

QTEST_GUILESS_MAIN(TestKestraSend)
#include "tst_kestrasend.moc"
