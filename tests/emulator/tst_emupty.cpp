#include "DeviceModel.h"
#include "TestHelpers.h"
#include "WireClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// kestra-emu's pseudo-terminal, reached through its link as a serial client would.

using Kind = FrameReader::Kind;

namespace {

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};

// CPU seconds the process has used so far (user + system), from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // After the command name: state is field 3, utime 14 and stime 15 (1-based, whole line).
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

} // namespace

class TestEmuPty : public QObject
{
    Q_OBJECT
private slots:
    void commandsOverThePseudoTerminal();
    void staleLinkIsReplacedAndRemovedAtExit();
    void refusesToReplaceAFile();
    void clientMayCloseAndReopenWithoutSpinning();
    void closeMidDropsTheLineAndOffersAFreshOne();
    void wireSpeedPacesBothDirections_data();
    void wireSpeedPacesBothDirections();
};

void TestEmuPty::commandsOverThePseudoTerminal()
{
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    QVERIFY(QFileInfo(emu.ptyPath()).isSymLink());
    QVERIFY(QFileInfo(emu.ptyPath()).symLinkTarget().startsWith("/dev/pts/"));
    PtyChannel channel;
    QVERIFY(channel.open(emu.ptyPath()));
    WireClient client(&channel);
    QCOMPARE(client.exchange("9serial"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(client.exchange("12"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(client.exchange("\x22"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal, "serial")));
    // A bad frame is refused on this link too.
    QByteArray bad = encodeFrame("I");
    bad[bad.size() - 1] = char(bad.back() ^ 1);
    client.send(bad);
    QCOMPARE(client.next()->kind, Kind::Nak);
    QVERIFY(emu.waitForTrace("pty out NAK 15"));
    QVERIFY(emu.trace().contains("pty in frame 02 00 07 39 73 65 72 69 61 6c 03"));
}

void TestEmuPty::staleLinkIsReplacedAndRemovedAtExit()
{
    EmulatorProcess emu({true, kFast});
    const QString path = QDir(emu.directory()).filePath(QStringLiteral("ttyKestra"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), path));
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    QCOMPARE(emu.ptyPath(), path);
    QVERIFY(QFileInfo(path).symLinkTarget().startsWith("/dev/pts/"));
    PtyChannel channel;
    QVERIFY(channel.open(path));
    WireClient client(&channel);
    QCOMPARE(client.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    emu.stop();
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo::exists(path));
}

void TestEmuPty::refusesToReplaceAFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("precious"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QProcess process;
    process.start(qEnvironmentVariable("KESTRA_EMU"), {"--no-tcp", "--pty", path});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("not a symbolic link"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestEmuPty::clientMayCloseAndReopenWithoutSpinning()
{
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    {
        PtyChannel channel;
        QVERIFY(channel.open(emu.ptyPath()));
        WireClient client(&channel);
        QCOMPARE(client.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    } // closed: the emulator must not see an endless hang-up
    const double before = cpuSeconds(emu.processId());
    QVERIFY(before >= 0);
    QElapsedTimer clock;
    clock.start();
    PtyChannel idle;
    QVERIFY(idle.open(emu.ptyPath()));
    QVERIFY(WireClient(&idle).quietFor(100));
    idle.close();
    QTest::qWait(500); // half a second without a client
    const double used = cpuSeconds(emu.processId()) - before;
    QVERIFY2(used < 0.1, qPrintable(QString::number(used)));
    QVERIFY(clock.elapsed() >= 500);

    PtyChannel again;
    QVERIFY(again.open(emu.ptyPath()));
    WireClient client(&again);
    QCOMPARE(client.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
}

void TestEmuPty::closeMidDropsTheLineAndOffersAFreshOne()
{
    EmulatorProcess emu({true, QStringList{"--fault", "close-mid", "--fault-count", "1"} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    PtyChannel channel;
    QVERIFY(channel.open(emu.ptyPath()));
    WireClient client(&channel);
    client.sendCommand("I");
    for (int i = 0; i < 50 && !channel.hungUp(); ++i)
        client.quietFor(100);
    QVERIFY2(channel.hungUp(), (client.rawSeen().toHex(' ') + "\n" + emu.trace()).constData());
    // The ACK and half the response made it before the line dropped.
    QCOMPARE(client.rawSeen().toHex(' '), (QByteArray(1, Wire::ACK) + encodeFrame("\x20").left(3)).toHex(' '));

    QVERIFY(emu.waitForTrace("now leads to"));
    PtyChannel fresh;
    QVERIFY(fresh.open(emu.ptyPath()));
    WireClient next(&fresh);
    QCOMPARE(next.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
}

void TestEmuPty::wireSpeedPacesBothDirections_data()
{
    QTest::addColumn<int>("bps");
    QTest::newRow("19200") << 19200;
    QTest::newRow("38400") << 38400;
}

void TestEmuPty::wireSpeedPacesBothDirections()
{
    QFETCH(int, bps);
    EmulatorProcess emu({true, QStringList{"--wire-speed", QString::number(bps)} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    PtyChannel channel;
    QVERIFY(channel.open(emu.ptyPath()));
    WireClient client(&channel);
    const QByteArray data(600, 'w');
    const auto wireMs = [bps](qsizetype bytes) { return double(bytes) * 10 * 1000 / bps; };

    // In: the device has the frame only when its last byte has crossed the line.
    QElapsedTimer clock;
    clock.start();
    const QByteArray command = encodeFrame("9" + data);
    client.send(command);
    QCOMPARE(client.next()->kind, Kind::Ack);
    const double inMs = clock.nsecsElapsed() / 1e6;
    const double inWire = wireMs(command.size() + 1); // the frame, then the ACK back
    QCOMPARE(client.next()->kind, Kind::Frame);
    client.send(QByteArray(1, Wire::ACK));
    QCOMPARE(client.exchange("12"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));

    // Out: a read answers with the 600 bytes. Timed from the send of the command, since the
    // line cannot deliver the last byte sooner than that (a late look at the ACK cannot shorten it).
    clock.restart();
    client.sendCommand("\x22");
    QCOMPARE(client.next()->kind, Kind::Ack);
    const auto response = client.next();
    const double outMs = clock.nsecsElapsed() / 1e6;
    QVERIFY(response && response->kind == Kind::Frame);
    QCOMPARE(response->body, statusBody(DeviceStatus::Normal, data));
    const double outWire = wireMs(Wire::kOverhead + 1) + wireMs(1 + response->body.size() + Wire::kOverhead);

    const QString figures = QStringLiteral("in %1 ms for %2 ms of wire, out %3 ms for %4 ms")
                                .arg(inMs).arg(inWire).arg(outMs).arg(outWire);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(inMs >= inWire * 0.95 && inMs <= inWire * 2 + 50, qPrintable(figures));
    QVERIFY2(outMs >= outWire * 0.95 && outMs <= outWire * 2 + 50, qPrintable(figures));
}

QTEST_GUILESS_MAIN(TestEmuPty)
#include "tst_emupty.moc"
