// What a hostile or broken peer can do to the card control: bytes that never form a frame, or
// frames as large as LEN allows, in their millions. Memory must stay bounded and the link must
// still work afterwards.
#include "E2eWait.h"
#include "protocol/Frame.h"
#include "control/Plenko.h"

#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer keeps freed memory in quarantine (256 MB by default), which would show as
// growth here; a small quarantine keeps the RSS figure meaningful.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=2";
}
// Its shadow memory and allocator caches add a few MB of their own.
constexpr qint64 kAllowedGrowth = 12 * 1024 * 1024;
#else
constexpr qint64 kAllowedGrowth = 4 * 1024 * 1024;
#endif

namespace {

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Reads from fd until a whole sound frame has arrived; its body, or nothing when the line ends.
std::optional<QByteArray> readFrame(int fd)
{
    FrameReader reader;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        for (const auto &item : reader.feed(QByteArrayView(buffer, n))) {
            if (item.kind == FrameReader::Kind::Frame)
                return item.body;
        }
    }
}

enum class Line { Tcp, Pty };
enum class Junk { NoStx, LargestFrames };

// The far end, on a thread of its own with blocking calls, so that the control's side of the
// test runs in the event loop as it does in the program: it floods the line, then answers the
// one command the control sends.
class FloodingPeer
{
public:
    ~FloodingPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
    }

    // Listens on 127.0.0.1 (TCP) or opens a pseudo-terminal; the control is pointed at it
    // through PLENKO_TCP_PORT or PLENKO_COM9.
    bool prepare(Line line)
    {
        m_line = line;
        if (line == Line::Tcp) {
            m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), length) != 0
                || ::listen(m_listenFd, 1) != 0
                || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
                return false;
            qputenv("PLENKO_TCP_PORT", QByteArray::number(ntohs(address.sin_port)));
            return true;
        }
        m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0 || ::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0)
            return false;
        qputenv("PLENKO_COM9", ::ptsname(m_fd));
        return true;
    }

    void start(Junk junk, qint64 totalBytes)
    {
        m_thread = std::thread([this, junk, totalBytes] { run(junk, totalBytes); });
    }

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    std::atomic<bool> answered = false;
    std::atomic<qint64> flooded = 0;
    QByteArray commandBody; // written by the thread, read after join()

private:
    void run(Junk junk, qint64 totalBytes)
    {
        if (m_line == Line::Tcp) {
            m_fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (m_fd < 0)
                return;
        }
        QByteArray chunk;
        if (junk == Junk::NoStx) {
            // Everything but STX, ACK and NAK, so that nothing ever starts a frame.
            chunk.resize(64 * 1024);
            for (qsizetype i = 0; i < chunk.size(); ++i) {
                char c = char(i * 7 + 1);
                if (c == Wire::STX || c == Wire::ACK || c == Wire::NAK)
                    c = 'x';
                chunk[i] = c;
            }
        } else {
            // The longest frame LEN allows, with its ETX missing: unsound, to be dropped whole.
            chunk = encodeFrame(QByteArray(Wire::kMaxBody, 'J'));
            chunk[chunk.size() - 2] = 'E';
        }
        while (flooded < totalBytes) {
            if (!writeAll(m_fd, chunk.constData(), chunk.size()))
                return;
            flooded += chunk.size();
        }
        // Then a device that behaves: ACK the control's command and answer it.
        const std::optional<QByteArray> command = readFrame(m_fd);
        if (!command)
            return;
        commandBody = *command;
        const QByteArray answer = QByteArray(1, Wire::ACK) + encodeFrame("\x20" "after the flood");
        if (writeAll(m_fd, answer.constData(), answer.size()))
            answered = true;
    }

    Line m_line = Line::Tcp;
    int m_listenFd = -1;
    int m_fd = -1;
    std::thread m_thread;
};

} // namespace

Q_DECLARE_METATYPE(Line)
Q_DECLARE_METATYPE(Junk)

class TestSecurity : public QObject
{
    Q_OBJECT
private slots:
    void floodKeepsMemoryBounded_data();
    void floodKeepsMemoryBounded();
};

void TestSecurity::floodKeepsMemoryBounded_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<Junk>("junk");
    QTest::newRow("tcp, 32 MB without STX") << Line::Tcp << Junk::NoStx;
    QTest::newRow("tcp, largest frames") << Line::Tcp << Junk::LargestFrames;
    QTest::newRow("pty, 32 MB without STX") << Line::Pty << Junk::NoStx;
    QTest::newRow("pty, largest frames") << Line::Pty << Junk::LargestFrames;
}

void TestSecurity::floodKeepsMemoryBounded()
{
    QFETCH(Line, line);
    QFETCH(Junk, junk);
    constexpr qint64 kFlood = 32 * 1024 * 1024;

    FloodingPeer peer;
    QVERIFY(peer.prepare(line));
    Plenko control;
    qint32 port = line == Line::Tcp ? qint32(0x7F000001) : 9;
    qint32 speed = line == Line::Tcp ? -1 : 5;
    const qint32 mode = line == Line::Tcp ? -1 : 1;
    QCOMPARE(control.OpenLink(port, speed, mode, mode).toInt(), 0);
    QCOMPARE(control.StartLink(0).toInt(), 0);

    const qint64 before = residentBytes();
    peer.start(junk, kFlood);
    // The command goes out at once and waits out the flood for its answer.
    qint32 code = 0x49;
    QByteArray parameter("sent during the flood");
    qint32 timeout = 120000;
    bool dsr = false;
    QCOMPARE(control.SendCommand(code, parameter, timeout, dsr).toInt(), 0);
    qint64 peak = before;
    QVERIFY(waitFor([&] {
        peak = qMax(peak, residentBytes());
        return control.CommStatus().toInt() != LinkStatus::Busy;
    }, 120000));
    peer.join();

    QVERIFY(peer.flooded >= kFlood);
    QVERIFY(peer.answered);
    QCOMPARE(peer.commandBody, QByteArray("\x49" "sent during the flood"));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::None);
    QCOMPARE(control.ResponseCode().toInt(), kResponseNormal);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("after the flood"));
    // Holding the flood would take 32 MB; one frame is 64 KB. Generous for allocator noise.
    const qint64 growth = peak - before;
    qInfo("resident memory grew by %lld KB during a %lld MB flood", growth / 1024, kFlood >> 20);
    QVERIFY2(growth < kAllowedGrowth, qPrintable(QStringLiteral("grew by %1 bytes").arg(growth)));
    control.StopLink();
    control.CloseLink();
}

QTEST_GUILESS_MAIN(TestSecurity)
#include "tst_security.moc"
