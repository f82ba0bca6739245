#include "ScriptedPeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(Line line, QObject *parent) : QObject(parent), m_line(line) {}

ScriptedPeer::~ScriptedPeer()
{
    closeLine();
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
}

bool ScriptedPeer::start(int comPort)
{
    if (m_line == Line::Tcp) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &ScriptedPeer::acceptConnection);
        return m_server->listen(QHostAddress::LocalHost, 0);
    }
    char name[128] = {};
    if (::openpty(&m_masterFd, &m_slaveFd, name, nullptr, nullptr) != 0)
        return false;
    ::fcntl(m_masterFd, F_SETFL, ::fcntl(m_masterFd, F_GETFL) | O_NONBLOCK);
    // Raw from the start, so nothing is echoed before the control configures the line.
    termios raw{};
    ::tcgetattr(m_slaveFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slaveFd, TCSANOW, &raw);
    m_ptyPath = QString::fromLocal8Bit(name);
    qputenv(qPrintable(QStringLiteral("PLENKO_COM%1").arg(comPort)), name);
    m_readNotifier = new QSocketNotifier(m_masterFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ScriptedPeer::readPty);
    m_writeNotifier = new QSocketNotifier(m_masterFd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &ScriptedPeer::flushPty);
    return true;
}

quint16 ScriptedPeer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QList<QByteArray> ScriptedPeer::commandBodies() const
{
    QList<QByteArray> bodies;
    for (const auto &item : received)
        if (item.kind == FrameReader::Kind::Frame)
            bodies.append(item.body);
    return bodies;
}

int ScriptedPeer::count(FrameReader::Kind kind) const
{
    return int(std::count_if(received.begin(), received.end(), [kind](const auto &i) { return i.kind == kind; }));
}

void ScriptedPeer::acceptConnection()
{
    QTcpSocket *next = m_server->nextPendingConnection();
    if (m_socket) { // one device, one connection: the latest wins
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = next;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &ScriptedPeer::readTcp);
}

void ScriptedPeer::readTcp()
{
    consume(m_socket->readAll());
}

void ScriptedPeer::readPty()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_masterFd, buffer, sizeof buffer);
        if (n > 0) {
            consume(QByteArray(buffer, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO: no slave side open. Stop listening instead of spinning on it.
        m_readNotifier->setEnabled(false);
        return;
    }
}

void ScriptedPeer::flushPty()
{
    while (!m_ptyPending.isEmpty()) {
        const ssize_t n = ::write(m_masterFd, m_ptyPending.constData(), size_t(m_ptyPending.size()));
        if (n > 0) {
            m_ptyPending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            m_ptyPending.clear();
        break;
    }
    m_writeNotifier->setEnabled(!m_ptyPending.isEmpty());
}

void ScriptedPeer::consume(const QByteArray &bytes)
{
    for (const auto &item : m_reader.feed(bytes)) {
        received.append(item);
        const bool trigger = item.kind == FrameReader::Kind::Frame || item.kind == FrameReader::Kind::Nak;
        if (!trigger)
            continue;
        if (item.kind == FrameReader::Kind::Frame && onCommand) {
            onCommand(item.body);
            continue;
        }
        if (m_replyIndex < replies.size()) {
            const bool last = m_replyIndex == replies.size() - 1;
            reply(replies.at(m_replyIndex++), last && closeAfterLastReply);
        }
    }
}

void ScriptedPeer::reply(const QByteArray &bytes, bool thenClose)
{
    if (pieceSize <= 0) {
        write(bytes);
        if (thenClose)
            QTimer::singleShot(0, this, &ScriptedPeer::closeLine);
        return;
    }
    // One piece per turn of the event loop, a little apart, so that they arrive separately.
    int delay = 0;
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize, delay += 3)
        QTimer::singleShot(delay, this, [this, piece = bytes.mid(at, pieceSize)] { write(piece); });
    if (thenClose)
        QTimer::singleShot(delay + 3, this, &ScriptedPeer::closeLine);
}

void ScriptedPeer::write(const QByteArray &bytes)
{
    if (m_line == Line::Tcp) {
        if (m_socket) {
            m_socket->write(bytes);
            m_socket->flush();
        }
        return;
    }
    if (m_masterFd < 0)
        return;
    m_ptyPending.append(bytes);
    flushPty();
}

void ScriptedPeer::closeLine()
{
    if (m_line == Line::Tcp) {
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->disconnectFromHost();
            m_socket->deleteLater();
            m_socket = nullptr;
        }
        return;
    }
    if (m_masterFd >= 0) {
        delete m_readNotifier;
        m_readNotifier = nullptr;
        delete m_writeNotifier;
        m_writeNotifier = nullptr;
        ::close(m_masterFd);
        m_masterFd = -1;
    }
}

bool ScriptedPeer::lineOpen() const
{
    return m_line == Line::Tcp ? m_socket != nullptr : m_masterFd >= 0;
}

bool waitUntil(const std::function<bool()> &pred, int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake; // makes the blocking wait return at the deadline at the latest
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QCoreApplication::processEvents();
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        if (!wake.isActive())
            wake.start(int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
