#include "WireClient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool TcpChannel::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    if (!m_socket.waitForConnected(5000))
        return false;
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool TcpChannel::write(const QByteArray &bytes)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return false;
    if (m_socket.write(bytes) != bytes.size())
        return false;
    return m_socket.waitForBytesWritten(5000) || m_socket.bytesToWrite() == 0;
}

QByteArray TcpChannel::readSome(int timeoutMs)
{
    if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(timeoutMs))
        return {};
    return m_socket.readAll();
}

bool TcpChannel::hungUp() const
{
    return m_socket.state() == QAbstractSocket::UnconnectedState;
}

PtyChannel::~PtyChannel()
{
    close();
}

bool PtyChannel::open(const QString &path)
{
    close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
    m_hungUp = false;
    return true;
}

void PtyChannel::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool PtyChannel::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

QByteArray PtyChannel::readSome(int timeoutMs)
{
    if (m_fd < 0 || m_hungUp)
        return {};
    pollfd p{m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0)
        return {};
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0)
        return QByteArray(buffer, int(n));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        m_hungUp = true; // the master side closed
    return {};
}

bool WireClient::fill(int timeoutMs)
{
    const QByteArray bytes = m_channel->readSome(timeoutMs);
    if (bytes.isEmpty())
        return false;
    m_raw += bytes;
    m_items += m_reader.feed(bytes);
    return true;
}

std::optional<FrameReader::Item> WireClient::next(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_items.isEmpty()) {
        if (deadline.hasExpired() || !fill(int(qMax<qint64>(0, deadline.remainingTime()))))
            return std::nullopt;
    }
    return m_items.takeFirst();
}

bool WireClient::quietFor(int ms)
{
    if (!m_items.isEmpty())
        return false;
    const QDeadlineTimer deadline(ms);
    const qsizetype before = m_raw.size();
    while (!deadline.hasExpired()) {
        if (!fill(int(qMax<qint64>(0, deadline.remainingTime()))))
            break;
    }
    return m_raw.size() == before;
}

std::optional<QByteArray> WireClient::exchange(const QByteArray &body, int timeoutMs)
{
    if (!sendCommand(body))
        return std::nullopt;
    const auto ack = next(timeoutMs);
    if (!ack || ack->kind != FrameReader::Kind::Ack)
        return std::nullopt;
    const auto response = next(timeoutMs);
    if (!response || response->kind != FrameReader::Kind::Frame)
        return std::nullopt;
    send(QByteArray(1, Wire::ACK));
    return response->body;
}

QByteArray statusBody(quint8 status, const QByteArray &data)
{
    return QByteArray(1, char(status)) + data;
}
