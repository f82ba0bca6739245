#include "DeviceModel.h"
#include "TestHelpers.h"
#include "WireClient.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

// kestra-emu as a separate process, driven over loopback TCP with hand-made frames.

using Kind = FrameReader::Kind;
using Step = QPair<QByteArray, QByteArray>; // command body, expected response body
Q_DECLARE_METATYPE(QList<Step>)

namespace {

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};

QByteArray frameOf(quint8 status, const QByteArray &data = {})
{
    return encodeFrame(statusBody(status, data));
}

} // namespace

class TestEmuWire : public QObject
{
    Q_OBJECT
private slots:
    void eachCommandAnswers_data();
    void eachCommandAnswers();
    void malformedCommandFramesAreRefused_data();
    void malformedCommandFramesAreRefused();
    void responseIsResentOnNakThreeSendsAtMost();
    void responseWithoutAckIsDropped();
    void newCommandAbandonsTheRunningOne_data();
    void newCommandAbandonsTheRunningOne();
    void operationTimeFollowsTheScale();
    void faultModes_data();
    void faultModes();
    void lateAnswerIsAbandonedByANewCommand();
    void faultCountLetsTheDeviceRecover();
    void closeMidHangsUpInTheMiddleOfTheResponse();
    void clientThatNeverReadsIsHungUpOn();
    void traceHoldsTheExactBytes();
    void cardComesBackAfterEject();
    void connectionsShareTheDevice();
    void surfacePicture();
    void commandLine_data();
    void commandLine();
    void terminatesCleanly_data();
    void terminatesCleanly();
};

void TestEmuWire::eachCommandAnswers_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QStringList>("options");
    using namespace DeviceStatus;
    QTest::newRow("magnetic read of a blank stripe") << QList<Step>{{"\"", statusBody(ReadError)}} << QStringList{};
    QTest::newRow("magnetic write and read")
        << QList<Step>{{"9" + QByteArray(64, 'm'), statusBody(Normal)}, {"12", statusBody(Normal)},
                       {"\"", statusBody(Normal, QByteArray(64, 'm'))}} << QStringList{};
    QTest::newRow("stripe bytes pass unchanged")
        << QList<Step>{{QByteArray("9\x00\x02\x03\x06\x15\xff", 7), statusBody(Normal)}, {"12", statusBody(Normal)},
                       {"\"", statusBody(Normal, QByteArray("\x00\x02\x03\x06\x15\xff", 6))}} << QStringList{};
    QTest::newRow("buffer clear") << QList<Step>{{"I", statusBody(Normal)}} << QStringList{};
    QTest::newRow("reset") << QList<Step>{{"_", statusBody(Normal)}} << QStringList{};
    QTest::newRow("erase") << QList<Step>{{"H1", statusBody(Normal)}, {"H", statusBody(ParameterError)}}
                           << QStringList{};
    QTest::newRow("print and rewrite")
        << QList<Step>{{"A2, 0, 23,Hello, World!\n \nThis is Kestra.", statusBody(Normal)}, {"F1", statusBody(Normal)}}
        << QStringList{};
    QTest::newRow("rewrite without data") << QList<Step>{{"F1", statusBody(BufferEmpty)}} << QStringList{};
    QTest::newRow("eject") << QList<Step>{{"P1", statusBody(Normal)}} << QStringList{};
    QTest::newRow("unknown command") << QList<Step>{{"Q", statusBody(UnknownCommand)}} << QStringList{};
    QTest::newRow("longest parameter")
        << QList<Step>{{"9" + QByteArray(Wire::kMaxBody - 1, 'L'), statusBody(Normal)}, {"12", statusBody(Normal)},
                       {"\"", statusBody(Normal, QByteArray(Wire::kMaxBody - 1, 'L'))}} << QStringList{};
    // The frame's number on the link, big-endian, then its code, ahead of the device's data.
    QTest::newRow("answer identities")
        << QList<Step>{{"I", QByteArray("\x20\x00\x00\x00\x01I", 6)},
                       {"\"", QByteArray("\x33\x00\x00\x00\x02\"", 6)}}
        << QStringList{"--answer-ids"};
}

void TestEmuWire::eachCommandAnswers()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QStringList, options);
    EmulatorProcess emu({false, kFast + options});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    for (const Step &step : steps) {
        const auto body = client.exchange(step.first);
        QVERIFY2(body, step.first.left(16).constData());
        QCOMPARE(body->toHex(' ').left(200), step.second.toHex(' ').left(200));
        QCOMPARE(*body, step.second);
    }
}

void TestEmuWire::malformedCommandFramesAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray badBcc = encodeFrame("\x22");
    badBcc[badBcc.size() - 1] = char(badBcc.back() ^ 0x40);
    QByteArray badEtx = encodeFrame("\x22");
    badEtx[badEtx.size() - 2] = 0x04;
    QTest::newRow("bad bcc") << badBcc;
    QTest::newRow("bad etx") << badEtx;
    QTest::newRow("zero length") << QByteArray("\x02\x00\x00", 3);
}

void TestEmuWire::malformedCommandFramesAreRefused()
{
    QFETCH(QByteArray, bytes);
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    // Stray bytes and a lone ACK or NAK while nothing is pending change nothing.
    client.send(QByteArray("noise\x06\x15", 7));
    client.send(bytes);
    const auto nak = client.next();
    QVERIFY(nak);
    QCOMPARE(nak->kind, Kind::Nak);
    QVERIFY(client.quietFor(200)); // nothing runs
    // The resend goes through.
    const auto body = client.exchange("\x22");
    QVERIFY(body);
    QCOMPARE(*body, statusBody(DeviceStatus::ReadError));
}

void TestEmuWire::responseIsResentOnNakThreeSendsAtMost()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    client.sendCommand("I");
    QCOMPARE(client.next()->kind, Kind::Ack);
    for (int send = 1; send <= 3; ++send) {
        const auto response = client.next();
        QVERIFY2(response, qPrintable(QString::number(send)));
        QCOMPARE(response->kind, Kind::Frame);
        QCOMPARE(response->body, statusBody(DeviceStatus::Normal));
        client.send(QByteArray(1, Wire::NAK));
    }
    QVERIFY(client.quietFor(300)); // a fourth send never comes
    QVERIFY(emu.waitForTrace("refused three times"));
    QCOMPARE(client.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
}

void TestEmuWire::responseWithoutAckIsDropped()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    QElapsedTimer clock;
    clock.start();
    client.sendCommand("I");
    QCOMPARE(client.next()->kind, Kind::Ack);
    QCOMPARE(client.next()->kind, Kind::Frame);
    QVERIFY(emu.waitForTrace("dropped", 5000));
    QVERIFY(clock.elapsed() >= 900);
    // An ACK that comes too late is ignored, and no resend follows.
    client.send(QByteArray(1, Wire::NAK));
    QVERIFY(client.quietFor(200));
}

void TestEmuWire::newCommandAbandonsTheRunningOne_data()
{
    QTest::addColumn<bool>("waitForResponse"); // abandon while waiting for ACK instead of while working
    QTest::newRow("while working") << false;
    QTest::newRow("while waiting for ACK") << true;
}

void TestEmuWire::newCommandAbandonsTheRunningOne()
{
    QFETCH(bool, waitForResponse);
    // Real operation times: a magnetic read takes 300 ms.
    EmulatorProcess emu({false, {"--time-scale", "1"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    client.sendCommand("\x22");
    QCOMPARE(client.next()->kind, Kind::Ack);
    if (waitForResponse)
        QCOMPARE(client.next()->body, statusBody(DeviceStatus::ReadError));
    client.sendCommand("I");
    QCOMPARE(client.next()->kind, Kind::Ack);
    const auto response = client.next();
    QCOMPARE(response->body, statusBody(DeviceStatus::Normal));
    client.send(QByteArray(1, Wire::ACK));
    // Neither the read's answer nor a resend of it turns up later.
    QVERIFY(client.quietFor(600));
    QVERIFY(emu.trace().contains("command 0x22 abandoned"));
}

void TestEmuWire::operationTimeFollowsTheScale()
{
    // Erase takes 800 ms at scale 1; at 0.25 about 200 ms.
    EmulatorProcess emu({false, {"--time-scale", "0.25"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    client.sendCommand("H1");
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(client.next()->kind, Kind::Ack);
    QVERIFY(clock.elapsed() < 150); // the ACK does not wait for the operation
    QCOMPARE(client.next()->body, statusBody(DeviceStatus::Normal));
    QVERIFY2(clock.elapsed() >= 190, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void TestEmuWire::faultModes_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("expected"); // all bytes the client receives for one command "I"
    const QByteArray ack(1, Wire::ACK);
    const QByteArray nak(1, Wire::NAK);
    const QByteArray good = frameOf(DeviceStatus::Normal); // 02 00 01 20 03 22
    QByteArray bad = good;
    bad[bad.size() - 1] = char(bad.back() ^ 0x5A);
    QTest::newRow("silent") << "silent" << QByteArray();
    QTest::newRow("nak") << "nak" << nak;
    QTest::newRow("partial") << "partial" << ack + good.left(3);
    QTest::newRow("garbage") << "garbage" << ack + QByteArray::fromHex("ff00a55a7f30310d0a80fe") + good;
    QTest::newRow("bad-bcc-once") << "bad-bcc-once" << ack + bad + good;
    QTest::newRow("bad-bcc") << "bad-bcc" << ack + bad + bad + bad;
    QByteArray promising = good;
    promising[2] = char(1 + 16);
    QTest::newRow("short-len") << "short-len" << ack + promising;
}

void TestEmuWire::faultModes()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, expected);
    EmulatorProcess emu({false, QStringList{"--fault", fault} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    client.sendCommand("I");
    for (;;) {
        const auto item = client.next(400);
        if (!item)
            break;
        // As a control would: NAK a malformed response, ACK a sound one.
        if (item->kind == Kind::BadFrame)
            client.send(QByteArray(1, Wire::NAK));
        else if (item->kind == Kind::Frame)
            client.send(QByteArray(1, Wire::ACK));
    }
    QVERIFY(client.quietFor(200));
    QCOMPARE(client.rawSeen().toHex(' '), expected.toHex(' '));
}

void TestEmuWire::lateAnswerIsAbandonedByANewCommand()
{
    EmulatorProcess emu({false, QStringList{"--fault", "late:300"} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    QElapsedTimer clock;
    clock.start();
    client.sendCommand("\x22");
    QCOMPARE(client.next()->kind, Kind::Ack);
    QVERIFY(client.quietFor(100)); // still late
    client.sendCommand("I");       // abandons the read
    QCOMPARE(client.next()->kind, Kind::Ack);
    const auto response = client.next(2000);
    QVERIFY(response);
    QCOMPARE(response->body, statusBody(DeviceStatus::Normal));
    QVERIFY(clock.elapsed() >= 390); // the answer to "I" is late in turn
    client.send(QByteArray(1, Wire::ACK));
    QVERIFY(client.quietFor(500)); // the read's answer never comes
}

void TestEmuWire::faultCountLetsTheDeviceRecover()
{
    EmulatorProcess emu({false, QStringList{"--fault", "nak", "--fault-count", "2"} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    for (int i = 0; i < 2; ++i) {
        client.sendCommand("I");
        QCOMPARE(client.next()->kind, Kind::Nak);
    }
    QCOMPARE(client.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
}

void TestEmuWire::closeMidHangsUpInTheMiddleOfTheResponse()
{
    EmulatorProcess emu({false, QStringList{"--fault", "close-mid"} + kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    client.sendCommand("I");
    for (int i = 0; i < 20 && !channel.hungUp(); ++i)
        client.quietFor(100);
    QVERIFY(channel.hungUp());
    QCOMPARE(client.rawSeen().toHex(' '), (QByteArray(1, Wire::ACK) + frameOf(DeviceStatus::Normal).left(3)).toHex(' '));
    QVERIFY(emu.waitForTrace("tcp#1 -- event closed"));
    // The emulator itself carries on: a new connection is served (and hung up on in turn).
    TcpChannel second;
    QVERIFY(second.connectTo(emu.tcpPort()));
    WireClient other(&second);
    other.sendCommand("I");
    QCOMPARE(other.next()->kind, Kind::Ack);
}

void TestEmuWire::clientThatNeverReadsIsHungUpOn()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel greedy;
    TcpChannel pacer;
    QVERIFY(greedy.connectTo(emu.tcpPort()));
    QVERIFY(pacer.connectTo(emu.tcpPort()));
    WireClient client(&greedy);
    WireClient sync(&pacer);
    QVERIFY(client.exchange("9" + QByteArray(Wire::kMaxBody - 1, 's')));
    QVERIFY(client.exchange("12"));
    greedy.stopReading();
    // Reads of 64 KiB each that the client never takes in: far more than the socket buffers
    // hold. A round trip on the second link after each one makes sure the read was answered
    // before the next arrives (otherwise the next would abandon it).
    const QByteArray read = encodeFrame("\x22");
    for (int i = 0; i < 400; ++i) {
        if (!client.send(read))
            break; // hung up on

        QVERIFY(sync.exchange("I"));
    }
    QVERIFY(emu.waitForTrace("unread: hanging up", 10000));
    // The emulator lives on and serves others.
    QVERIFY(emu.isRunning());
    QCOMPARE(sync.exchange("I"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
}

void TestEmuWire::traceHoldsTheExactBytes()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    const QByteArray command = encodeFrame(QByteArray("9\x82\xa0\x00$FF", 7));
    client.send(QByteArray("\xee\xef", 2) + command);
    QCOMPARE(client.next()->kind, Kind::Ack);
    QCOMPARE(client.next()->kind, Kind::Frame);
    client.send(QByteArray(1, Wire::ACK));
    QVERIFY(emu.waitForTrace("tcp#1 in ACK"));

    QStringList lines;
    for (const auto &entry : emu.traceEntries()) {
        if (entry.link == QLatin1String("tcp#1") && entry.direction != QLatin1String("--"))
            lines << entry.direction + ' ' + entry.kind + ' ' + QString::fromLatin1(entry.bytes.toHex(' '));
    }
    const QStringList expected{"in garbage ee ef", "in frame " + QString::fromLatin1(command.toHex(' ')),
                               "out ACK 06", "out frame " + QString::fromLatin1(frameOf(0x20).toHex(' ')),
                               "in ACK 06"};
    QCOMPARE(lines, expected);
    QCOMPARE(emu.receivedCommands(), QList<QByteArray>{QByteArray("9\x82\xa0\x00$FF", 7)});
    // The printable view and a time stamp are there too.
    QVERIFY(emu.trace().contains(" |...9..."));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3} tcp#1 in frame "), QRegularExpression::MultilineOption)
                .match(QString::fromLatin1(emu.trace()))
                .hasMatch());
}

void TestEmuWire::cardComesBackAfterEject()
{
    EmulatorProcess emu({false, {"--time-scale", "0", "--reinsert-ms", "300"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    QCOMPARE(client.exchange("9back"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(client.exchange("12"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(client.exchange("P1"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(client.exchange("\x22"), std::optional<QByteArray>(statusBody(DeviceStatus::NoCard)));
    QVERIFY(emu.waitForTrace("card inserted"));
    QVERIFY(clock.elapsed() >= 250);
    // The same card: its stripe is still there.
    QCOMPARE(client.exchange("\x22"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal, "back")));
}

void TestEmuWire::connectionsShareTheDevice()
{
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel first;
    TcpChannel second;
    QVERIFY(first.connectTo(emu.tcpPort()));
    QVERIFY(second.connectTo(emu.tcpPort()));
    WireClient a(&first);
    WireClient b(&second);
    QCOMPARE(a.exchange("9shared"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(b.exchange("12"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(a.exchange("\x22"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal, "shared")));
    // Each link has its own handshake: a command on one does not abandon the other's.
    a.sendCommand("I");
    b.sendCommand("I");
    QCOMPARE(a.next()->kind, Kind::Ack);
    QCOMPARE(b.next()->kind, Kind::Ack);
    QCOMPARE(a.next()->kind, Kind::Frame);
    QCOMPARE(b.next()->kind, Kind::Frame);
    QVERIFY(emu.trace().contains("tcp#2 in frame"));
}

void TestEmuWire::surfacePicture()
{
    EmulatorProcess::Options options{false, kFast, true};
    EmulatorProcess emu(options);
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    WireClient client(&channel);
    QCOMPARE(client.exchange("A3, 0, 100,WWWWWWWWWWWW"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    QCOMPARE(client.exchange("F1"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));

    const auto darkPixels = [](const QImage &image) {
        int dark = 0;
        for (int y = 100; y < 150; ++y) {
            for (int x = 20; x < 400; ++x)
                dark += qGray(image.pixel(x, y)) < 100;
        }
        return dark;
    };
    const QImage printed(emu.surfacePath());
    QCOMPARE(printed.size(), QSize(DeviceModel::kCardWidth, DeviceModel::kCardHeight));
    QVERIFY2(darkPixels(printed) > 500, qPrintable(QString::number(darkPixels(printed))));

    QCOMPARE(client.exchange("H1"), std::optional<QByteArray>(statusBody(DeviceStatus::Normal)));
    const QImage erased(emu.surfacePath());
    QCOMPARE(darkPixels(erased), 0);
}

void TestEmuWire::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output"); // a fragment of stdout or stderr
    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("--fault MODE");
    QTest::newRow("version") << QStringList{"--version", "--no-tcp"} << 0 << QByteArray("kestra-emu 2.50\nQt 6.");
    QTest::newRow("remote without permission") << QStringList{"--tcp", "0.0.0.0:0"} << 2 << QByteArray("--allow-remote");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << QByteArray("unknown option --bogus");
    QTest::newRow("port in use") << QStringList{"--tcp", "127.0.0.1:PORT"} << 1 << QByteArray("cannot listen");
}

void TestEmuWire::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    EmulatorProcess busy({false, {}});
    if (args.join(' ').contains("PORT")) {
        QVERIFY2(busy.start(), qPrintable(busy.errorText()));
        args.replaceInStrings("PORT", QString::number(busy.tcpPort()));
    }
    QProcess process;
    process.start(qEnvironmentVariable("KESTRA_EMU"), args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray all = process.readAllStandardOutput() + process.readAllStandardError();
    QVERIFY2(all.contains(output), all.constData());
}

void TestEmuWire::terminatesCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// Each signal the help names ends the emulator as Ctrl-C does: status 0, the pseudo-terminal's
// link removed.
void TestEmuWire::terminatesCleanly()
{
    QFETCH(int, signalNumber);
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    TcpChannel channel;
    QVERIFY(channel.connectTo(emu.tcpPort()));
    QVERIFY(QFileInfo(emu.ptyPath()).isSymLink());
    QProcess *process = emu.process();
    ::kill(pid_t(process->processId()), signalNumber);
    QVERIFY(process->waitForFinished(5000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QVERIFY(!QFileInfo(emu.ptyPath()).isSymLink());
}

QTEST_GUILESS_MAIN(TestEmuWire)
#include "tst_emuwire.moc"
