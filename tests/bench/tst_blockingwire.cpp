// The plain blocking client that the console is measured against: it must speak the protocol as
// the card control does (resend after NAK, NAK a damaged response, give up after three), or the
// comparison would compare different work.

#include "BlockingWireClient.h"

#include "TestHelpers.h"

#include <QTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Outcome = BlockingWireClient::Outcome;

namespace {

QByteArray frame(const QByteArray &body)
{
    const std::string f = BlockingWireClient::frame(std::string_view(body.constData(), size_t(body.size())));
    return QByteArray(f.data(), qsizetype(f.size()));
}

QByteArray damaged(QByteArray f)
{
    f[f.size() - 1] = char(f.back() ^ 0x5A);
    return f;
}

// Everything the client has written so far, read from the peer's end without blocking.
QByteArray drain(int fd)
{
    QByteArray out;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            return out;
        out.append(buffer, got);
    }
}

} // namespace

class TestBlockingWire : public QObject
{
    Q_OBJECT
private slots:
    void framesAsTheDeviceExpects_data();
    void framesAsTheDeviceExpects();
    void handshake_data();
    void handshake();
    void refusedConnectionIsReported();
    void roundTripWithTheEmulator();
};

void TestBlockingWire::framesAsTheDeviceExpects_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("magnetic read") << QByteArray("\x22") << QByteArray("02 00 01 22 03 20");
    QTest::newRow("magnetic write data") << QByteArray("92ABC") << QByteArray("02 00 05 39 32 41 42 43 03 4d");
    QTest::newRow("buffer clear") << QByteArray("I") << QByteArray("02 00 01 49 03 4b");
}

void TestBlockingWire::framesAsTheDeviceExpects()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, hex);
    QCOMPARE(frame(body).toHex(' '), hex);
}

void TestBlockingWire::handshake_data()
{
    QTest::addColumn<QByteArray>("peerSends"); // written before the command, then the peer's side closes
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("clientWrites");

    const QByteArray ack("\x06"), nak("\x15");
    const QByteArray cmd = frame("I");
    const QByteArray good = frame("\x20" "DATA");
    const QByteArray emptyBody("\x02\x00\x00\x03\x03", 5); // LEN 0 is never sound

    QTest::newRow("ACK and response") << ack + good << int(Outcome::Ok) << QByteArray("DATA") << cmd + ack;
    QTest::newRow("stale bytes before the ACK") << QByteArray("xyz") + ack + good << int(Outcome::Ok)
                                                 << QByteArray("DATA") << cmd + ack;
    QTest::newRow("garbage before STX") << ack + QByteArray("junk") + good << int(Outcome::Ok) << QByteArray("DATA")
                                        << cmd + ack;
    QTest::newRow("NAK, then ACK") << nak + ack + good << int(Outcome::Ok) << QByteArray("DATA") << cmd + cmd + ack;
    QTest::newRow("three NAKs") << nak + nak + nak << int(Outcome::Refused) << QByteArray() << cmd + cmd + cmd;
    QTest::newRow("damaged response, then sound") << ack + damaged(good) + good << int(Outcome::Ok)
                                                  << QByteArray("DATA") << cmd + nak + ack;
    QTest::newRow("zero-length response, then sound") << ack + emptyBody + good << int(Outcome::Ok)
                                                      << QByteArray("DATA") << cmd + nak + ack;
    QTest::newRow("three damaged responses") << ack + damaged(good) + damaged(good) + damaged(good)
                                             << int(Outcome::BadResponse) << QByteArray() << cmd + nak + nak + nak;
    QTest::newRow("hang-up before the ACK") << QByteArray() << int(Outcome::LinkLost) << QByteArray() << cmd;
    QTest::newRow("hang-up before the response") << ack << int(Outcome::LinkLost) << QByteArray() << cmd;
    QTest::newRow("hang-up in the middle of the response") << ack + good.left(4) << int(Outcome::LinkLost)
                                                           << QByteArray() << cmd;
}

void TestBlockingWire::handshake()
{
    QFETCH(QByteArray, peerSends);
    QFETCH(int, outcome);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, clientWrites);

    int fds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const int peer = fds[1];
    // The client blocks on its reads: the peer's whole part is in the socket before it starts.
    QCOMPARE(::send(peer, peerSends.constData(), size_t(peerSends.size()), 0), ssize_t(peerSends.size()));
    ::shutdown(peer, SHUT_WR);

    BlockingWireClient::Result result;
    QByteArray written;
    {
        BlockingWireClient client(fds[0]);
        result = client.command(73, {});
        written = drain(peer);
        QCOMPARE(client.bytesSent(), size_t(written.size()));
    }
    ::close(peer);

    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(written.toHex(' '), clientWrites.toHex(' '));
    if (outcome == int(Outcome::Ok)) {
        QCOMPARE(int(result.status), 0x20);
        QCOMPARE(QByteArray::fromStdString(result.data), data);
    }
}

void TestBlockingWire::refusedConnectionIsReported()
{
    // A port that was free a moment ago: nothing listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
    const std::uint16_t port = ntohs(address.sin_port);
    ::close(probe);

    std::string error;
    QCOMPARE(BlockingWireClient::connectTcp("127.0.0.1", port, error), -1);
    QVERIFY(!error.empty());
    error.clear();
    QCOMPARE(BlockingWireClient::connectTcp("not-an-address", port, error), -1);
    QVERIFY(!error.empty());
}

void TestBlockingWire::roundTripWithTheEmulator()
{
    EmulatorProcess emu({false, {"--time-scale", "0", "--reinsert-ms", "0"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    std::string error;
    const int fd = BlockingWireClient::connectTcp("127.0.0.1", emu.tcpPort(), error);
    QVERIFY2(fd >= 0, error.c_str());
    BlockingWireClient client(fd);

    const std::string stripe(64, 'S');
    QCOMPARE(int(client.command(57, stripe).outcome), int(Outcome::Ok));
    QCOMPARE(int(client.command(49, "2").outcome), int(Outcome::Ok));
    const BlockingWireClient::Result read = client.command(34, {});
    QCOMPARE(int(read.outcome), int(Outcome::Ok));
    QCOMPARE(int(read.status), 0x20);
    QCOMPARE(read.data, stripe);
    // Every response was acknowledged. The device reads its line in order, so once the answer to
    // one more command is in, the trace holds the ACKs of the three before it.
    QCOMPARE(int(client.command(73, {}).outcome), int(Outcome::Ok));
    int acks = 0;
    for (const auto &entry : emu.traceEntries())
        acks += entry.direction == QLatin1String("in") && entry.kind == QLatin1String("ACK") ? 1 : 0;
    QVERIFY2(acks >= 3, qPrintable(QString::number(acks)));
}

QTEST_GUILESS_MAIN(TestBlockingWire)
#include "tst_blockingwire.moc"
