#include "TcpLink.h"

namespace {
constexpr qint64 kUnreadLimit = 4 << 20;
} // namespace

TcpLink::TcpLink(QTcpSocket *socket, int number, QObject *parent)
    : Link(parent), m_socket(socket), m_name(QStringLiteral("tcp#%1").arg(number))
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpLink::readAll);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpLink::onDisconnected);
}

TcpLink::~TcpLink()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

QString TcpLink::peer() const
{
    return QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
}

void TcpLink::readAll()
{
    if (m_closed)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (!bytes.isEmpty())
        emit received(bytes);
}

void TcpLink::send(const QByteArray &bytes)
{
    if (m_closed || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    // A client that sends commands but never reads would make the answers pile up here.
    if (m_socket->bytesToWrite() + bytes.size() > kUnreadLimit) {
        emit overflowed();
        m_closed = true;
        m_socket->abort();
        emit closed();
        return;
    }
    m_socket->write(bytes);
}

void TcpLink::closeAfterSending()
{
    if (m_closed)
        return;
    // Waits for the pending bytes to be written, then closes; disconnected() follows.
    m_socket->disconnectFromHost();
}

void TcpLink::onDisconnected()
{
    if (m_closed)
        return;
    m_closed = true;
    emit closed();
}
