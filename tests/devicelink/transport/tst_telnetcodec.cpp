#include "transport/ComPortControl.h"
#include "transport/TelnetCodec.h"

#include <QTest>

// Telnet as a device server speaks it, and the com-port option's client over it. Streams are
// written in hex as they go over the wire; every decoding row is also fed one byte at a time and
// in two pieces at every cut, since a socket hands bytes over wherever it likes.

using Event = TelnetCodec::Event;
using Side = TelnetCodec::Side;
using State = ComPortControl::State;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QString describe(const Event &e)
{
    static const char *const verbs[] = {"will", "wont", "do", "dont"};
    switch (e.kind) {
    case Event::Kind::Negotiation:
        return QStringLiteral("%1 %2").arg(QLatin1String(verbs[e.command - Telnet::WILL])).arg(e.option);
    case Event::Kind::Settled:
        return QStringLiteral("%1 %2 %3").arg(e.enabled ? "on" : "off", e.side == Side::Us ? "us" : "him").arg(e.option);
    case Event::Kind::Subnegotiation:
        if (e.payload.size() > 16)
            return QStringLiteral("sb %1 of %2").arg(e.option).arg(e.payload.size());
        return QStringLiteral("sb %1 %2").arg(e.option).arg(QString::fromLatin1(e.payload.toHex(' ')));
    case Event::Kind::TooLong:
        return QStringLiteral("long %1").arg(e.option);
    case Event::Kind::Cut:
        return QStringLiteral("cut %1").arg(e.option);
    case Event::Kind::Command:
        return QStringLiteral("cmd %1").arg(e.command);
    }
    return {};
}

struct Run
{
    QByteArray data;
    QStringList events;
    QByteArray answer;
};

// A codec that takes BINARY both ways, fed the pieces in turn.
Run decode(const QList<QByteArrayView> &pieces)
{
    TelnetCodec codec;
    codec.allow(Side::Us, Telnet::Binary);
    codec.allow(Side::Him, Telnet::Binary);
    Run run;
    for (QByteArrayView piece : pieces) {
        const TelnetCodec::Decoded out = codec.feed(piece);
        run.data += out.data;
        for (const Event &e : out.events)
            run.events << describe(e);
        // Only a subnegotiation in progress is held, and never much more than the cap.
        if (codec.heldBytes() > 2 * Telnet::kMaxSubnegotiation + 64)
            qFatal("held %lld bytes", qlonglong(codec.heldBytes()));
    }
    run.answer = codec.takeOutput();
    return run;
}

// A subnegotiation of the com-port option from the server: code and value in hex.
QByteArray reply(const char *codeAndValue)
{
    return hex("fffa2c") + TelnetCodec::escaped(hex(codeAndValue)) + hex("fff0");
}

const QByteArray kAgree = hex("fffd2c" "fffb00" "fffd00" "fffb03" "fffd03");
const QByteArray kConfirm9600 = reply("6500002580") + reply("6608") + reply("6701") + reply("6801") + reply("6901");
const QStringList kOwnRequests = {"will 44", "will 0", "do 0", "will 3", "do 3"};

} // namespace

class TestTelnetCodec : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void encodesDataInEitherMode();
    void requestsTheLineOnceThePortIsOffered();
    void opensThePort_data();
    void opensThePort();
};

void TestTelnetCodec::decodes_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("IAC IAC is one 0xff") << hex("61ffff62ffff") << hex("61ff62ff") << QStringList() << QByteArray();
    QTest::newRow("NOP, GA, an unknown command and a stray SE cut out")
        << hex("61fff162fff963ff41fff064") << QByteArray("abcd")
        << QStringList{"cmd 241", "cmd 249", "cmd 65", "cmd 240"} << QByteArray();
    QTest::newRow("subnegotiation with IAC IAC inside") << hex("fffa2c6500ffff01fff07a") << QByteArray("z")
                                                        << QStringList{"sb 44 65 00 ff 01"} << QByteArray();
    QTest::newRow("subnegotiation cut by a command") << hex("fffa2c0102fffb0064") << QByteArray("d")
                                                     << QStringList{"cut 44", "will 0", "on him 0"} << hex("fffd00");
    const QByteArray full = QByteArray(Telnet::kMaxSubnegotiation - 1, 'x');
    QTest::newRow("subnegotiation at the cap") << hex("fffa2c") + full + hex("fff065") << QByteArray("e")
                                               << QStringList{QStringLiteral("sb 44 of %1").arg(full.size())} << QByteArray();
    // Past the cap, an IAC IAC is still not taken for the end.
    QTest::newRow("over-long subnegotiation skipped to its end")
        << hex("fffa2c") + QByteArray(Telnet::kMaxSubnegotiation + 10, 'x') + hex("fffffff065") << QByteArray("e")
        << QStringList{"long 44"} << QByteArray();
    QTest::newRow("before BINARY, CR NUL is a CR and CR LF stays") << hex("610d00620d0a630d0000") << hex("610d620d0a630d00")
                                                                   << QStringList() << QByteArray();
    QTest::newRow("in BINARY, CR NUL stays") << hex("fffb000d00") << hex("0d00") << QStringList{"will 0", "on him 0"}
                                             << hex("fffd00");
    QTest::newRow("unknown options refused") << hex("fffd18fffb1f") << QByteArray() << QStringList{"do 24", "will 31"}
                                             << hex("fffc18fffe1f");
}

void TestTelnetCodec::decodes()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, answer);
    const QByteArrayView all(stream);
    // Empty when the run decoded as the row says; what it decoded otherwise.
    const auto differs = [&](const Run &run, const QString &how) {
        if (run.data == data && run.events == events && run.answer == answer)
            return QString();
        return QStringLiteral("%1: data %2, events %3, answer %4")
            .arg(how, QString::fromLatin1(run.data.toHex()), run.events.join(','), QString::fromLatin1(run.answer.toHex()));
    };
    QString wrong = differs(decode({all}), "whole");
    QList<QByteArrayView> bytes;
    for (qsizetype i = 0; i < all.size(); ++i)
        bytes << all.sliced(i, 1);
    if (wrong.isEmpty())
        wrong = differs(decode(bytes), "byte by byte");
    for (qsizetype cut = 0; cut <= all.size() && wrong.isEmpty(); ++cut)
        wrong = differs(decode({all.first(cut), all.sliced(cut)}), QStringLiteral("cut at %1").arg(cut));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestTelnetCodec::encodesDataInEitherMode()
{
    QByteArray every(256, '\0');
    for (int i = 0; i < 256; ++i)
        every[i] = char(i);
    const QByteArray data = hex("ff0d0d0a0d00ff") + every + hex("0d");
    for (const bool binary : {false, true}) {
        TelnetCodec us;
        TelnetCodec server;
        server.allow(Side::Him, Telnet::Binary);
        if (binary) {
            us.enable(Side::Us, Telnet::Binary);
            server.feed(us.takeOutput());
            us.feed(server.takeOutput());
            QVERIFY(us.isEnabled(Side::Us, Telnet::Binary));
        }
        us.sendData(hex("ff0d0a"));
        QCOMPARE(us.takeOutput(), binary ? hex("ffff0d0a") : hex("ffff0d000a"));
        us.sendData(data);
        const QByteArray wire = us.takeOutput();
        QCOMPARE(wire.count(char(0xff)), 2 * data.count(char(0xff)));
        QCOMPARE(server.feed(wire).data, data);
    }
}

void TestTelnetCodec::requestsTheLineOnceThePortIsOffered()
{
    ComPortControl port;
    port.open({19200, 8, ComPort::Parity::None, ComPort::StopBits::One});
    QCOMPARE(port.takeOutput(), hex("fffb2c" "fffb00" "fffd00" "fffb03" "fffd03"));
    QCOMPARE(port.state(), State::Negotiating);
    port.feed(hex("fffd2c"));
    QCOMPARE(port.state(), State::Configuring);
    QCOMPARE(port.takeOutput().toHex(' '), QByteArray("ff fa 2c 00 ff f0 "          // who is the server
                                                      "ff fa 2c 01 00 00 4b 00 ff f0 " // 19200 bit/s
                                                      "ff fa 2c 02 08 ff f0 ff fa 2c 03 01 ff f0 ff fa 2c 04 01 ff f0 "
                                                      "ff fa 2c 05 01 ff f0 "          // no flow control
                                                      "ff fa 2c 0b 22 ff f0"));        // DSR and its changes
    QCOMPARE(port.awaited(), QStringLiteral("BINARY, SUPPRESS-GO-AHEAD, the speed, the data size, the parity, "
                                            "the stop bits, the flow control"));
    port.giveUp();
    QCOMPARE(port.failure(), QStringLiteral("no answer from the server for ") + port.awaited());
}

void TestTelnetCodec::opensThePort_data()
{
    QTest::addColumn<QByteArray>("before"); // from the server before open()
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QStringList>("sent");  // the client's negotiation and signatures, in order
    QTest::addColumn<int>("requests");      // SET-BAUDRATE requests sent
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("dsr"); // -1: not reported
    QTest::addColumn<QString>("signature");

    const QByteArray none;
    QTest::newRow("agreed and confirmed, DSR on")
        << none << kAgree + kConfirm9600 + reply("6b30") << kOwnRequests << 1 << State::Ready << QString() << 1 << QString();
    QTest::newRow("server asks first: each answered once, requests at open")
        << kAgree << kConfirm9600 << QStringList{"will 44", "do 0", "will 0", "do 3", "will 3"} << 1 << State::Ready
        << QString() << -1 << QString();
    QTest::newRow("repeated answers not answered again")
        << none << kAgree + kAgree + kConfirm9600 + reply("6b30") + reply("6b02") << kOwnRequests << 1 << State::Ready
        << QString() << 0 << QString();
    // What ser2net sends for a pseudo-terminal, and for a device that is off from the start.
    QTest::newRow("every line off at first: DSR not known")
        << none << kAgree + reply("6b00") + kConfirm9600 + reply("6b00") << kOwnRequests << 1 << State::Ready << QString()
        << -1 << QString();
    QTest::newRow("on, off and on again: one answer each")
        << none << kAgree + hex("fffc00fffb00") + kConfirm9600 << kOwnRequests + QStringList{"dont 0", "do 0"} << 1
        << State::Ready << QString() << -1 << QString();
    QTest::newRow("a refusal, then the server asks after all")
        << none << kAgree.first(9) + hex("fffe03fffb03fffd03") + kConfirm9600 << kOwnRequests + QStringList{"will 3"} << 1
        << State::Ready << QString() << -1 << QString();
    QTest::newRow("unknown options refused") << none << hex("fffd18fffb1f") + kAgree + kConfirm9600
                                             << kOwnRequests + QStringList{"wont 24", "dont 31"} << 1 << State::Ready
                                             << QString() << -1 << QString();
    QTest::newRow("server WILLs the port instead") << none << hex("fffb2c") + kAgree.sliced(3) + kConfirm9600
                                                   << kOwnRequests + QStringList{"do 44"} << 1 << State::Ready << QString() << -1 << QString();
    const QString noPort = QStringLiteral("the server does not offer RFC 2217 port control");
    QTest::newRow("server DONTs the port") << none << hex("fffe2c") + kAgree.sliced(3) << kOwnRequests << 0 << State::Failed
                                           << noPort << -1 << QString();
    QTest::newRow("server WONTs the port") << none << hex("fffc2c") + kAgree.sliced(3) << kOwnRequests << 0 << State::Failed
                                           << noPort << -1 << QString();
    QTest::newRow("speed differs") << none << kAgree + reply("65000012c0") + kConfirm9600.sliced(10) << kOwnRequests << 1
                                   << State::Failed << QStringLiteral("the server set 4800 bit/s, not 9600") << -1 << QString();
    QTest::newRow("parity and stop bits differ")
        << none << kAgree + kConfirm9600.first(17) + reply("6703") + reply("6802") + reply("6901") << kOwnRequests << 1
        << State::Failed << QStringLiteral("the server set even parity, not none; the server set 2 stop bits, not 1") << -1 << QString();
    QTest::newRow("speed changed after ready") << none << kAgree + kConfirm9600 + reply("65000012c0") << kOwnRequests << 1
                                               << State::Failed << QStringLiteral("the server set 4800 bit/s, not 9600") << -1 << QString();
    QTest::newRow("a speed reply cut short is not a confirmation")
        << none << kAgree + reply("652580") + kConfirm9600.sliced(10) << kOwnRequests << 1 << State::Configuring << QString() << -1 << QString();
    QTest::newRow("confirmed but BINARY unanswered") << none << hex("fffd2c") + kConfirm9600 << kOwnRequests << 1
                                                     << State::Configuring << QString() << -1 << QString();
    QTest::newRow("the server's signature, and it asks for ours")
        << none << kAgree + hex("fffa2c64") + "ser2net 4.6 " + hex("fff0") + reply("64") + kConfirm9600
        << kOwnRequests + QStringList{"signature Brindle"} << 1 << State::Ready << QString() << -1 << "ser2net 4.6";
}

void TestTelnetCodec::opensThePort()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, server);
    QFETCH(QStringList, sent);
    QFETCH(int, requests);
    QFETCH(State, state);
    QFETCH(QString, failure);
    QFETCH(int, dsr);
    QFETCH(QString, signature);

    ComPortControl port;
    port.feed(before);
    QByteArray wire = port.takeOutput();
    port.open({9600, 8, ComPort::Parity::None, ComPort::StopBits::One});
    wire += port.takeOutput();
    port.feed(server);
    wire += port.takeOutput();

    // The client's bytes as the server reads them.
    TelnetCodec reader;
    QStringList seen;
    int baudRequests = 0;
    for (const Event &e : reader.feed(wire).events) {
        if (e.kind == Event::Kind::Negotiation)
            seen << describe(e);
        else if (e.kind == Event::Kind::Subnegotiation && e.payload.startsWith(char(ComPort::SetBaudRate)))
            ++baudRequests;
        else if (e.kind == Event::Kind::Subnegotiation && e.payload.size() > 1 && e.payload.at(0) == ComPort::Signature)
            seen << QStringLiteral("signature ") + QString::fromLatin1(e.payload.sliced(1));
    }
    QCOMPARE(seen, sent);
    QCOMPARE(baudRequests, requests);
    QCOMPARE(port.state(), state);
    QCOMPARE(port.failure(), failure);
    QCOMPARE(port.dsr().has_value() ? int(*port.dsr()) : -1, dsr);
    QCOMPARE(port.serverSignature(), signature);
}

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "tst_telnetcodec.moc"
