#include "DeviceModel.h"
#include "EmulatorOptions.h"
#include "Faults.h"
#include "protocol/Frame.h"
#include "PacedPipe.h"
#include "Trace.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

// The device model, the command line, the trace's stream cutting and the line pacing, in process.

using Step = QPair<QByteArray, QByteArray>; // command body, expected response body
Q_DECLARE_METATYPE(QList<Step>)

namespace {

QByteArray answer(quint8 status, const QByteArray &data = {})
{
    return QByteArray(1, char(status)) + data;
}

QByteArray run(DeviceModel &model, const QByteArray &body)
{
    const DeviceModel::Outcome outcome = model.execute(quint8(body[0]), QByteArrayView(body).sliced(1));
    return answer(outcome.status, outcome.data);
}

const QByteArray kSamplePrint = "2, 0, 23,Hello, World!\n \nThis is Kestra.\n Rewritable Card R/W\n"
                                "  From Orvell, Velden.\n \n/www.example.com/\n \nYou can use Kestra for...\n"
                                "* Point card\n* Pre-Paid card\n* Member's card\n* Library ID Card\n"
                                "* Medical ID card\n\n......And more!!";

} // namespace

class TestEmuDevice : public QObject
{
    Q_OBJECT
private slots:
    void commandSequences_data();
    void commandSequences();
    void cardCommandsAnswerQuicklyWithoutCard();
    void printBlocks_data();
    void printBlocks();
    void rewritePrintsEveryBlockAndEmptiesTheBuffer();
    void printBufferIsBounded();
    void reinsertAfterEject_data();
    void reinsertAfterEject();
    void options_data();
    void options();
    void faultNames_data();
    void faultNames();
    void faultCountLimitsTheFault();
    void faultMixIsReproducible_data();
    void faultMixIsReproducible();
    void splitterKeepsRawBytes_data();
    void splitterKeepsRawBytes();
    void splitterAtEveryByteBoundary();
    void traceLineFormat();
    void pacingFollowsTheWireTime_data();
    void pacingFollowsTheWireTime();
};

void TestEmuDevice::commandSequences_data()
{
    QTest::addColumn<int>("reinsertMs");
    QTest::addColumn<QList<Step>>("steps");
    using namespace DeviceStatus;
    QTest::newRow("blank stripe reads as an error") << -1 << QList<Step>{{"\"", answer(ReadError)}};
    QTest::newRow("write then read returns the data")
        << -1 << QList<Step>{{"9HELLO \x82\xa0", answer(Normal)}, {"12", answer(Normal)},
                             {"\"", answer(Normal, "HELLO \x82\xa0")}};
    QTest::newRow("a later data command replaces the buffer")
        << -1 << QList<Step>{{"9first", answer(Normal)}, {"9second", answer(Normal)}, {"12", answer(Normal)},
                             {"\"", answer(Normal, "second")}};
    QTest::newRow("write needs parameter 2")
        << -1 << QList<Step>{{"9abc", answer(Normal)}, {"1", answer(ParameterError)}, {"13", answer(ParameterError)},
                             {"122", answer(ParameterError)}, {"\"", answer(ReadError)}};
    QTest::newRow("write with an empty buffer")
        << -1 << QList<Step>{{"9", answer(Normal)}, {"12", answer(BufferEmpty)}};
    QTest::newRow("buffer clear empties the write buffer")
        << -1 << QList<Step>{{"9abc", answer(Normal)}, {"I", answer(Normal)}, {"12", answer(BufferEmpty)}};
    QTest::newRow("reset empties both buffers")
        << -1 << QList<Step>{{"9abc", answer(Normal)}, {"A1,0,0,x", answer(Normal)}, {"_", answer(Normal)},
                             {"12", answer(BufferEmpty)}, {"F1", answer(BufferEmpty)}};
    QTest::newRow("reset keeps the stripe")
        << -1 << QList<Step>{{"9keep", answer(Normal)}, {"12", answer(Normal)}, {"_", answer(Normal)},
                             {"\"", answer(Normal, "keep")}};
    QTest::newRow("erase and eject need parameter 1")
        << -1 << QList<Step>{{"H", answer(ParameterError)}, {"H2", answer(ParameterError)}, {"H1", answer(Normal)},
                             {"P0", answer(ParameterError)}, {"\"", answer(ReadError)}};
    QTest::newRow("eject empties the slot")
        << -1 << QList<Step>{{"P1", answer(Normal)}, {"\"", answer(NoCard)}, {"12", answer(NoCard)},
                             {"H1", answer(NoCard)}, {"F1", answer(NoCard)}, {"P1", answer(NoCard)}};
    QTest::newRow("buffer commands need no card")
        << -1 << QList<Step>{{"P1", answer(Normal)}, {"9abc", answer(Normal)}, {"A1,0,0,x", answer(Normal)},
                             {"I", answer(Normal)}, {"_", answer(Normal)}};
    QTest::newRow("the card keeps its stripe while out")
        << 0 << QList<Step>{{"9mine", answer(Normal)}, {"12", answer(Normal)}, {"P1", answer(Normal)},
                            {"\"", answer(Normal, "mine")}};
    QTest::newRow("rewrite needs print data and parameter 1")
        << -1 << QList<Step>{{"F1", answer(BufferEmpty)}, {"A" + kSamplePrint, answer(Normal)}, {"F", answer(ParameterError)},
                             {"F1", answer(Normal)}, {"F1", answer(BufferEmpty)}};
    QTest::newRow("print data must not be empty") << -1 << QList<Step>{{"A", answer(ParameterError)}};
    QTest::newRow("print header out of range")
        << -1 << QList<Step>{{"A4, 0, 0,x", answer(ParameterError)}, {"A0,0,0,x", answer(ParameterError)},
                             {"A1, 685, 0,x", answer(ParameterError)}, {"A1, 0, 432,x", answer(ParameterError)}};
    QTest::newRow("unknown commands")
        << -1 << QList<Step>{{QByteArray(1, '\0'), answer(UnknownCommand)}, {"Z", answer(UnknownCommand)},
                             {"\xff", answer(UnknownCommand)}, {"\x21", answer(UnknownCommand)}};
}

void TestEmuDevice::commandSequences()
{
    QFETCH(int, reinsertMs);
    QFETCH(QList<Step>, steps);
    DeviceModel model;
    model.setReinsertMs(reinsertMs);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QByteArray got = run(model, steps[i].first);
        if (got != steps[i].second)
            qWarning("step %d: %s", int(i), steps[i].first.left(20).constData());
        QCOMPARE(got.toHex(' '), steps[i].second.toHex(' '));
    }
}

void TestEmuDevice::cardCommandsAnswerQuicklyWithoutCard()
{
    DeviceModel model;
    model.setReinsertMs(-1);
    const int withCard = model.operationMs(DeviceCommand::Rewrite, "1");
    QVERIFY(withCard >= 500);
    run(model, "P1");
    QVERIFY(model.operationMs(DeviceCommand::Rewrite, "1") < withCard / 10);
    QVERIFY(model.operationMs(DeviceCommand::PrintData, "x") < 100);
}

void TestEmuDevice::printBlocks_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QList<int>>("sizeXY");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("sample") << kSamplePrint << true << QList<int>{2, 0, 23}
                            << QList<QByteArray>{"Hello, World!", " ", "This is Kestra.", " Rewritable Card R/W",
                                                 "  From Orvell, Velden.", " ", "/www.example.com/", " ",
                                                 "You can use Kestra for...", "* Point card", "* Pre-Paid card",
                                                 "* Member's card", "* Library ID Card", "* Medical ID card", "",
                                                 "......And more!!"};
    QTest::newRow("no header") << QByteArray("plain\ntext") << true << QList<int>{1, 0, 0}
                               << QList<QByteArray>{"plain", "text"};
    QTest::newRow("two numbers are text") << QByteArray("2, 3,x") << true << QList<int>{1, 0, 0}
                                          << QList<QByteArray>{"2, 3,x"};
    QTest::newRow("tight header") << QByteArray("3,10,20,") << true << QList<int>{3, 10, 20}
                                  << QList<QByteArray>{""};
    QTest::newRow("trailing line feed") << QByteArray("1,0,0,a\n") << true << QList<int>{1, 0, 0}
                                        << QList<QByteArray>{"a", ""};
    QTest::newRow("size 4") << QByteArray("4,0,0,a") << false << QList<int>{} << QList<QByteArray>{};
    QTest::newRow("huge number is text") << QByteArray("99999999999,0,0,a") << true << QList<int>{1, 0, 0}
                                         << QList<QByteArray>{"99999999999,0,0,a"};
}

void TestEmuDevice::printBlocks()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, accepted);
    QFETCH(QList<int>, sizeXY);
    QFETCH(QList<QByteArray>, lines);
    PrintBlock block;
    QCOMPARE(parsePrintBlock(data, &block), accepted);
    if (!accepted)
        return;
    QCOMPARE((QList<int>{block.size, block.x, block.y}), sizeXY);
    QCOMPARE(block.lines, lines);
}

void TestEmuDevice::rewritePrintsEveryBlockAndEmptiesTheBuffer()
{
    DeviceModel model;
    QSignalSpy changed(&model, &DeviceModel::surfaceChanged);
    QCOMPARE(run(model, "A1, 5, 10,one\ntwo"), answer(DeviceStatus::Normal));
    QCOMPARE(run(model, "A3, 0, 100,\x93\xfa\x96\x7b"), answer(DeviceStatus::Normal)); // 日本 in CP932
    QVERIFY(model.surface().isEmpty());
    QCOMPARE(run(model, "F1"), answer(DeviceStatus::Normal));
    const QList<SurfaceLine> expected{{5, 10, 12, QStringLiteral("one")},
                                      {5, 22, 12, QStringLiteral("two")},
                                      {0, 100, 36, QStringLiteral("日本")}};
    QCOMPARE(model.surface(), expected);
    QCOMPARE(model.printBufferBytes(), 0);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(run(model, "H1"), answer(DeviceStatus::Normal));
    QVERIFY(model.surface().isEmpty());
    QCOMPARE(changed.size(), 2);
}

void TestEmuDevice::printBufferIsBounded()
{
    DeviceModel model;
    const QByteArray big = "A" + QByteArray(40000, 'x');
    QCOMPARE(run(model, big), answer(DeviceStatus::Normal));
    QCOMPARE(run(model, big), answer(DeviceStatus::BufferFull));
    QCOMPARE(model.printBufferBytes(), 40000);
    QCOMPARE(run(model, "I"), answer(DeviceStatus::Normal));
    QCOMPARE(run(model, big), answer(DeviceStatus::Normal));
}

void TestEmuDevice::reinsertAfterEject_data()
{
    QTest::addColumn<int>("reinsertMs");
    QTest::addColumn<bool>("presentAtOnce");
    QTest::addColumn<bool>("comesBack");
    QTest::newRow("at once") << 0 << true << true;
    QTest::newRow("after 50 ms") << 50 << false << true;
    QTest::newRow("never") << -1 << false << false;
}

void TestEmuDevice::reinsertAfterEject()
{
    QFETCH(int, reinsertMs);
    QFETCH(bool, presentAtOnce);
    QFETCH(bool, comesBack);
    DeviceModel model;
    model.setReinsertMs(reinsertMs);
    QSignalSpy moved(&model, &DeviceModel::cardMoved);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(model, "P1"), answer(DeviceStatus::Normal));
    QCOMPARE(model.cardPresent(), presentAtOnce);
    if (!presentAtOnce)
        QCOMPARE(moved.wait(comesBack ? 5000 : 300), comesBack);
    QCOMPARE(model.cardPresent(), comesBack);
    if (reinsertMs > 0)
        QVERIFY(clock.elapsed() >= reinsertMs - 5);
}

void TestEmuDevice::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // a fragment of the message; empty: accepted
    QTest::addColumn<QString>("listen"); // host:port, or "none"
    QTest::addColumn<QString>("pty");
    QTest::addColumn<double>("timeScale");
    QTest::addColumn<int>("reinsertMs");
    QTest::addColumn<int>("wireSpeed");
    QTest::addColumn<QString>("fault"); // name/lateMs/count
    const QString none;
    QTest::newRow("defaults") << QStringList{} << none << "127.0.0.1:10001" << none << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("everything")
        << QStringList{"--tcp", "127.0.0.1:0", "--pty", "/tmp/x", "--time-scale", "0.5", "--reinsert-ms", "-1",
                       "--fault", "late:250", "--fault-count", "3", "--wire-speed", "38400"}
        << none << "127.0.0.1:0" << "/tmp/x" << 0.5 << -1 << 38400 << "late/250/3";
    QTest::newRow("count before fault") << QStringList{"--fault-count", "2", "--fault", "nak"} << none
                                        << "127.0.0.1:10001" << none << 1.0 << 2000 << 0 << "nak/0/2";
    QTest::newRow("localhost") << QStringList{"--tcp", "localhost:5"} << none << "127.0.0.1:5" << none << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("ipv6 loopback") << QStringList{"--tcp", "[::1]:7"} << none << "::1:7" << none << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("pty only") << QStringList{"--no-tcp", "--pty", "/tmp/p"} << none << "none" << "/tmp/p" << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("tcp after no-tcp") << QStringList{"--no-tcp", "--tcp", "127.0.0.1:5"} << none << "127.0.0.1:5" << none
                                      << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("no-tcp after tcp") << QStringList{"--tcp", "127.0.0.1:5", "--no-tcp", "--pty", "/tmp/p"} << none
                                      << "none" << "/tmp/p" << 1.0 << 2000 << 0 << "none/0/-1";
    QTest::newRow("the later value wins") << QStringList{"--time-scale", "3", "--time-scale=0.25"} << none
                                          << "127.0.0.1:10001" << none << 0.25 << 2000 << 0 << "none/0/-1";
    QTest::newRow("remote allowed") << QStringList{"--tcp", "0.0.0.0:9", "--allow-remote"} << none << "0.0.0.0:9" << none
                                    << 1.0 << 2000 << 0 << "none/0/-1";
    const auto refused = [](const char *name, const QStringList &args, const char *fragment) {
        QTest::newRow(name) << args << QString::fromLatin1(fragment) << QString() << QString() << 0.0 << 0 << 0 << QString();
    };
    refused("any address refused", {"--tcp", "0.0.0.0:10001"}, "loopback");
    refused("lan address refused", {"--tcp", "192.168.1.5:10001"}, "--allow-remote");
    refused("host name", {"--tcp", "example.com:1"}, "no IP address");
    refused("port too big", {"--tcp", "127.0.0.1:65536"}, "no port");
    refused("no port", {"--tcp", "127.0.0.1"}, "HOST:PORT");
    refused("missing value", {"--pty"}, "needs a value");
    refused("negative scale", {"--time-scale", "-1"}, "--time-scale");
    refused("nan scale", {"--time-scale", "nan"}, "--time-scale");
    refused("bad speed", {"--wire-speed", "fast"}, "--wire-speed");
    refused("negative speed", {"--wire-speed", "-9600"}, "--wire-speed");
    refused("bad fault", {"--fault", "sometimes"}, "unknown mode");
    refused("bad late", {"--fault", "late:soon"}, "unknown mode");
    refused("mix without seed", {"--fault-mix", ":0.3"}, "--fault-mix");
    refused("mix rate above 1", {"--fault-mix", "5:1.5"}, "--fault-mix");
    refused("mix and fault", {"--fault-mix", "5", "--fault", "nak"}, "exclude");
    refused("mix time-out 0", {"--mix-timeout", "0"}, "--mix-timeout");
    refused("unknown option", {"--frobnicate"}, "unknown option --frobnicate");
    refused("unknown short option", {"-x"}, "unknown option -x");
    refused("stray argument", {"127.0.0.1:10001"}, "unexpected argument '127.0.0.1:10001'");
    refused("value of a switch", {"--trace=yes"}, "--trace");
    refused("missing value last", {"--no-tcp", "--fault"}, "--fault needs a value");
    refused("fault count alone", {"--fault-count", "2"}, "--fault-count goes with --fault");
    refused("fault count with a mix", {"--fault-mix", "5", "--fault-count", "2"}, "--fault-count goes with --fault");
    refused("negative fault count", {"--fault", "nak", "--fault-count", "-1"}, "--fault-count");
    refused("session without replay", {"--session", "2"}, "go with it");
    refused("replay with a fault", {"--replay", "j.log", "--fault", "nak"}, "takes no --fault");
    refused("nothing to listen on", {"--no-tcp"}, "nothing to listen on");
}

void TestEmuDevice::options()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    EmulatorOptions options;
    QString message;
    const bool ok = parseEmulatorOptions(args, &options, &message);
    QCOMPARE(ok, error.isEmpty());
    if (!ok) {
        QVERIFY2(message.contains(error), qPrintable(message));
        return;
    }
    QFETCH(QString, listen);
    QFETCH(QString, pty);
    QFETCH(double, timeScale);
    QFETCH(int, reinsertMs);
    QFETCH(int, wireSpeed);
    QFETCH(QString, fault);
    QCOMPARE(options.tcp ? QStringLiteral("%1:%2").arg(options.tcpHost.toString()).arg(options.tcpPort)
                         : QStringLiteral("none"),
             listen);
    QCOMPARE(options.ptyPath, pty);
    QCOMPARE(options.timeScale, timeScale);
    QCOMPARE(options.reinsertMs, reinsertMs);
    QCOMPARE(options.wireSpeed, wireSpeed);
    QCOMPARE(QStringLiteral("%1/%2/%3").arg(faultName(options.fault.mode)).arg(options.fault.lateMs).arg(options.fault.count),
             fault);
}

void TestEmuDevice::faultNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("lateMs");
    QTest::newRow("silent") << "silent" << int(FaultMode::Silent) << 0;
    QTest::newRow("late") << "late:1500" << int(FaultMode::Late) << 1500;
    QTest::newRow("partial") << "partial" << int(FaultMode::Partial) << 0;
    QTest::newRow("garbage") << "garbage" << int(FaultMode::Garbage) << 0;
    QTest::newRow("bad-bcc-once") << "bad-bcc-once" << int(FaultMode::BadBccOnce) << 0;
    QTest::newRow("bad-bcc") << "bad-bcc" << int(FaultMode::BadBcc) << 0;
    QTest::newRow("nak") << "nak" << int(FaultMode::Nak) << 0;
    QTest::newRow("short-len") << "short-len" << int(FaultMode::ShortLen) << 0;
    QTest::newRow("close-mid") << "close-mid" << int(FaultMode::CloseMid) << 0;
    QTest::newRow("none") << "none" << int(FaultMode::None) << 0;
}

void TestEmuDevice::faultNames()
{
    QFETCH(QString, text);
    QFETCH(int, mode);
    QFETCH(int, lateMs);
    FaultPlan plan;
    QVERIFY(parseFault(text, &plan));
    QCOMPARE(int(plan.mode), mode);
    QCOMPARE(plan.lateMs, lateMs);
    QCOMPARE(faultName(plan.mode), text.section(QLatin1Char(':'), 0, 0));
}

void TestEmuDevice::faultCountLimitsTheFault()
{
    FaultPolicy limited(FaultPlan{FaultMode::Nak, 0, 2});
    QCOMPARE(limited.nextCommand().mode, FaultMode::Nak);
    QCOMPARE(limited.nextCommand().mode, FaultMode::Nak);
    QCOMPARE(limited.nextCommand().mode, FaultMode::None);
    FaultPolicy always(FaultPlan{FaultMode::Garbage, 0, -1});
    for (int i = 0; i < 10; ++i)
        QCOMPARE(always.nextCommand().mode, FaultMode::Garbage);
}

void TestEmuDevice::faultMixIsReproducible_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("minShare"); // of frames with a fault, over 9,000 frames
    QTest::addColumn<double>("maxShare");
    QTest::newRow("default rate") << "7" << 0.27 << 0.33;
    QTest::newRow("every frame") << "12345:1" << 1.0 << 1.0;
    QTest::newRow("never") << "99:0" << 0.0 << 0.0;
    QTest::newRow("largest seed") << "18446744073709551615:0.5" << 0.47 << 0.53;
}

void TestEmuDevice::faultMixIsReproducible()
{
    QFETCH(QString, text);
    QFETCH(double, minShare);
    QFETCH(double, maxShare);
    FaultMix mix;
    mix.timeoutMs = 200;
    QVERIFY(parseFaultMix(text, &mix));
    FaultPolicy first(FaultPlan{}, mix);
    FaultPolicy again(FaultPlan{}, mix);
    FaultMix otherSeed = mix;
    ++otherSeed.seed;
    FaultPolicy other(FaultPlan{}, otherSeed);
    constexpr int kFrames = 9000;
    int faults = 0;
    int differ = 0;
    QSet<int> modes;
    for (int i = 0; i < kFrames; ++i) {
        const FaultChoice choice = first.nextCommand();
        QCOMPARE(again.nextCommand(), choice);
        differ += other.nextCommand() == choice ? 0 : 1;
        faults += choice.mode == FaultMode::None ? 0 : 1;
        modes.insert(int(choice.mode));
        if (choice.mode == FaultMode::Late)
            QVERIFY2(choice.lateMs >= 150 && choice.lateMs <= 250, qPrintable(faultText(choice)));
        else
            QCOMPARE(choice.lateMs, 0);
    }
    QVERIFY2(faults >= minShare * kFrames && faults <= maxShare * kFrames, qPrintable(QString::number(faults)));
    QCOMPARE(modes.size(), maxShare == 0 ? 1 : minShare == 1 ? 9 : 10); // every mode comes up
    if (minShare < 1 && maxShare > 0)
        QVERIFY(differ > 0);
}

void TestEmuDevice::splitterKeepsRawBytes_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QList<QByteArray>>("raws");
    const QByteArray good = encodeFrame("\x22");
    QByteArray bad = encodeFrame("9ab");
    bad[bad.size() - 1] = char(bad.back() ^ 1);
    const QByteArray empty("\x02\x00\x00", 3);
    QTest::newRow("frame") << good << QStringList{"frame"} << QList<QByteArray>{good};
    QTest::newRow("garbage frame ack nak")
        << QByteArray("xy") + good + "\x06\x15" << QStringList{"garbage", "frame", "ACK", "NAK"}
        << QList<QByteArray>{"xy", good, "\x06", "\x15"};
    QTest::newRow("bad then good") << bad + good << QStringList{"bad-frame", "frame"} << QList<QByteArray>{bad, good};
    QTest::newRow("zero length then good") << empty + good << QStringList{"bad-frame", "frame"}
                                           << QList<QByteArray>{empty, good};
    QTest::newRow("garbage between") << good + "\x03\xff" + good << QStringList{"frame", "garbage", "frame"}
                                     << QList<QByteArray>{good, "\x03\xff", good};
}

void TestEmuDevice::splitterKeepsRawBytes()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, kinds);
    QFETCH(QList<QByteArray>, raws);
    StreamSplitter splitter;
    QStringList gotKinds;
    QList<QByteArray> gotRaws;
    for (const auto &piece : splitter.feed(stream)) {
        gotKinds << QString::fromLatin1(kindName(piece.kind));
        gotRaws << piece.raw;
    }
    QCOMPARE(gotKinds, kinds);
    QCOMPARE(gotRaws, raws);
    QVERIFY(!splitter.inFrame());
}

void TestEmuDevice::splitterAtEveryByteBoundary()
{
    const QByteArray frame = encodeFrame(QByteArray("A\x02\x03\x06\x15 data", 10));
    const QByteArray stream = QByteArray("zz") + frame + "\x06" + frame;
    for (int cut = 0; cut <= stream.size(); ++cut) {
        StreamSplitter splitter;
        QList<StreamSplitter::Piece> pieces = splitter.feed(QByteArrayView(stream).first(cut));
        pieces += splitter.feed(QByteArrayView(stream).sliced(cut));
        QByteArray joined;
        QList<QByteArray> frames;
        for (const auto &piece : pieces) {
            joined += piece.raw;
            if (piece.kind == StreamSplitter::Kind::Frame)
                frames << piece.body;
        }
        QCOMPARE(joined, stream); // no byte lost or doubled, whatever the cut
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[1], QByteArray("A\x02\x03\x06\x15 data", 10));
    }
}

void TestEmuDevice::traceLineFormat()
{
    QCOMPARE(TraceLog::formatBytes(1234, "tcp#3", TraceLog::Direction::In, "frame", QByteArray("\x02\x00\x01\x22\x03\x20", 6)),
             QByteArray("1.234 tcp#3 in frame 02 00 01 22 03 20 |...\". |"));
    QCOMPARE(TraceLog::formatBytes(5, "pty", TraceLog::Direction::Out, "ACK", "\x06"), QByteArray("0.005 pty out ACK 06 |.|"));
}

void TestEmuDevice::pacingFollowsTheWireTime_data()
{
    QTest::addColumn<int>("bps");
    QTest::addColumn<int>("bytes");
    QTest::newRow("9600, one push") << 9600 << 96;
    QTest::newRow("38400, one push") << 38400 << 768;
}

void TestEmuDevice::pacingFollowsTheWireTime()
{
    QFETCH(int, bps);
    QFETCH(int, bytes);
    QByteArray out;
    qint64 firstAt = -1;
    QElapsedTimer clock;
    PacedPipe pipe([&](const QByteArray &chunk) {
        if (firstAt < 0)
            firstAt = clock.elapsed();
        out += chunk;
    });
    pipe.setBitsPerSecond(bps);
    QSignalSpy drained(&pipe, &PacedPipe::drained);
    QByteArray data;
    for (int i = 0; i < bytes; ++i)
        data += char(i);
    clock.start();
    // Two pushes back to back: the second queues behind the first.
    pipe.push(data.left(bytes / 2));
    pipe.push(data.mid(bytes / 2));
    QVERIFY(out.isEmpty()); // even the first byte needs its ten bits
    QVERIFY(drained.wait(5000));
    const qint64 wireMs = qint64(bytes) * 10 * 1000 / bps; // 100 ms or 200 ms
    const qint64 took = clock.elapsed();
    QCOMPARE(out, data);
    QVERIFY2(took >= wireMs - 2, qPrintable(QString::number(took)));
    QVERIFY2(took < wireMs * 3 + 50, qPrintable(QString::number(took))); // generous: a loaded machine
    QVERIFY(firstAt >= 0 && firstAt < wireMs / 2);
}

QTEST_GUILESS_MAIN(TestEmuDevice)
#include "tst_emudevice.moc"
