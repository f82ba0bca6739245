#include "transport/SerialTransport.h"
#include "transport/TcpTransport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

// The two byte links on lines the test holds the far end of: a pseudo-terminal's master side for
// the serial transport, the accepted socket of a loopback server for the TCP one. Each must carry
// every byte value unchanged both ways (a serial line left cooked would turn CR into LF or eat
// XON/XOFF), report the end of its link once and with the system's reason, and say nothing when
// its owner closes it.

namespace {

enum class Kind { Serial, Tcp };

// Every byte value, the framing and flow-control bytes among them.
QByteArray everyByte()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i);
    return bytes;
}

// A transport and the far end of its line.
class Line
{
public:
    explicit Line(Kind kind) : m_kind(kind) {}
    ~Line()
    {
        m_transport.reset();
        if (m_master >= 0)
            ::close(m_master);
    }

    bool open()
    {
        if (m_kind == Kind::Serial) {
            int slave = -1;
            char name[128] = {};
            if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
                return false;
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
            auto serial = std::make_unique<SerialTransport>();
            // The line is left as openpty made it (cooked, echoing): the transport must make it raw.
            const bool opened = serial->open(QString::fromLocal8Bit(name), 9600) == SerialTransport::OpenResult::Opened;
            ::close(slave); // the transport is the only one on the slave side now
            m_transport = std::move(serial);
            return opened;
        }
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return false;
        auto tcp = std::make_unique<TcpTransport>();
        QSignalSpy connected(tcp.get(), &TcpTransport::connected);
        tcp->connectTo(0x7F000001, m_server.serverPort()); // 127.0.0.1
        m_transport = std::move(tcp);
        if (!connected.wait(5000) || !(m_server.hasPendingConnections() || m_server.waitForNewConnection(5000)))
            return false;
        m_peer = m_server.nextPendingConnection();
        return m_peer != nullptr;
    }

    LinkTransport &transport() { return *m_transport; }

    void farWrite(const QByteArray &bytes)
    {
        if (m_kind == Kind::Tcp) {
            m_peer->write(bytes);
            m_peer->flush();
            return;
        }
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (errno != EINTR && errno != EAGAIN)
                return;
        }
    }

    // What reached the far end, once `size` bytes have or `ms` have passed.
    QByteArray farRead(qsizetype size, int ms = 5000)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < size && clock.elapsed() < ms) {
            if (m_kind == Kind::Tcp) {
                if (m_peer->bytesAvailable() == 0)
                    m_peer->waitForReadyRead(50);
                got += m_peer->readAll();
                continue;
            }
            pollfd ready{m_master, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
        }
        return got;
    }

    // The far end goes away: the peer closes its socket, the pseudo-terminal's master is closed.
    void farClose()
    {
        if (m_kind == Kind::Tcp) {
            m_peer->close();
            return;
        }
        ::close(m_master);
        m_master = -1;
    }

private:
    Kind m_kind;
    std::unique_ptr<LinkTransport> m_transport;
    int m_master = -1;
    QTcpServer m_server;
    QTcpSocket *m_peer = nullptr; // a child of m_server
};

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestTransports : public QObject
{
    Q_OBJECT
private slots:
    void bytesAndEnd_data();
    void bytesAndEnd();
    void secondOpenOfAPortIsBusy_data();
    void secondOpenOfAPortIsBusy();
};

void TestTransports::bytesAndEnd_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("farEndGoes"); // else the owner closes the link
    QTest::addColumn<QString>("reason");  // what lostReason() says, as a pattern
    // A hang-up is said as such, followed by the system's words for the call that met it.
    QTest::newRow("serial, far end hangs up")
        << Kind::Serial << true
        << R"(^the device went away \(unplugged, switched off, or the far end hung up\): (?!Unknown error)\w.+$)";
    QTest::newRow("serial, closed by its owner") << Kind::Serial << false << "^$";
    QTest::newRow("tcp, peer closes") << Kind::Tcp << true << "^the device closed the connection$";
    QTest::newRow("tcp, closed by its owner") << Kind::Tcp << false << "^$";
}

void TestTransports::bytesAndEnd()
{
    QFETCH(Kind, kind);
    QFETCH(bool, farEndGoes);
    QFETCH(QString, reason);
    Line line(kind);
    QVERIFY(line.open());
    LinkTransport &transport = line.transport();
    QSignalSpy lost(&transport, &LinkTransport::lost);
    QByteArray arrived;
    QObject::connect(&transport, &LinkTransport::bytesArrived, [&arrived](const QByteArray &bytes) { arrived += bytes; });

    const QByteArray bytes = everyByte();
    QVERIFY(transport.send(bytes));
    QCOMPARE(line.farRead(bytes.size()), bytes);
    line.farWrite(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), bytes.size(), 5000);
    QCOMPARE(arrived, bytes);
    QVERIFY(!transport.isLost());
    QCOMPARE(lost.size(), 0);

    if (farEndGoes) {
        line.farClose();
        QVERIFY(lost.wait(5000));
    } else {
        transport.shutDown();
    }
    QVERIFY2(QRegularExpression(reason).match(transport.lostReason()).hasMatch(), qPrintable(transport.lostReason()));
    QVERIFY(transport.isLost());
    QVERIFY(!transport.send("x"));
    // Once: the line's later notices (a read error repeated, the close) tell nothing new.
    QTest::qWait(100);
    QCOMPARE(lost.size(), farEndGoes ? 1 : 0);
}

void TestTransports::secondOpenOfAPortIsBusy_data()
{
    QTest::addColumn<bool>("byAnotherName"); // through a link, as /dev/serial/by-id names a port
    QTest::newRow("same name") << false;
    QTest::newRow("another name for the same device") << true;
}

void TestTransports::secondOpenOfAPortIsBusy()
{
    QFETCH(bool, byAnotherName);
    int master = -1;
    int slave = -1;
    char name[128] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const QString path = QString::fromLocal8Bit(name);
    QTemporaryDir links;
    const QString alias = links.filePath(QStringLiteral("kestra"));
    QVERIFY(QFile::link(path, alias));

    SerialTransport first;
    QCOMPARE(first.open(path, 9600), SerialTransport::OpenResult::Opened);
    SerialTransport second;
    QCOMPARE(second.open(byAnotherName ? alias : path, 9600), SerialTransport::OpenResult::Busy);
    QVERIFY2(second.openError().startsWith(QLatin1String("the port is in use by ")), qPrintable(second.openError()));
    // The hold goes with the first one's descriptor.
    first.shutDown();
    QCOMPARE(second.open(byAnotherName ? alias : path, 9600), SerialTransport::OpenResult::Opened);
    second.shutDown();
    ::close(slave);
    ::close(master);
}

QTEST_GUILESS_MAIN(TestTransports)
#include "tst_transports.moc"
