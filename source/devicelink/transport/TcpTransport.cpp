#include "transport/TcpTransport.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

TcpTransport::TcpTransport(QObject *parent) : LinkTransport(parent), m_socket(new QTcpSocket(this))
{
    setDevice(m_socket);
    // The device sits on the local network; a proxy configured for web traffic must not apply.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    // Take the peer's bytes in bounded pieces: unlimited, the socket would pull in whatever the
    // kernel has buffered (tens of MB on a fast link) before the frame reader sees any of it.
    m_socket->setReadBufferSize(64 * 1024);
    connect(m_socket, &QTcpSocket::connected, this, &TcpTransport::handleConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpTransport::handleReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpTransport::handleError);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpTransport::handleDisconnected);
}

TcpTransport::~TcpTransport()
{
    shutDown();
}

LinkTransport::Opening TcpTransport::open(const LinkAddress &address)
{
    connectTo(address.ipv4, address.port);
    return Opening::Pending;
}

void TcpTransport::connectTo(quint32 ipv4, quint16 port)
{
    m_socket->connectToHost(QHostAddress(ipv4), port);
}

void TcpTransport::connectTo(const QString &host, quint16 port)
{
    m_socket->connectToHost(host, port);
}

QString TcpTransport::closedReason() const
{
    return m_peer == Peer::Server ? QStringLiteral("the server closed the connection")
                                  : QStringLiteral("the device closed the connection");
}

void TcpTransport::handleReadyRead()
{
    // Acknowledge what came at once rather than up to 40 ms later: a peer that holds small
    // writes until its last one is acknowledged (Nagle's algorithm, as ser2net's sockets have it)
    // would otherwise keep a frame back that long behind the ACK byte before it. Linux turns
    // quick acknowledgement off again on its own, so it is asked for again at each read.
    const int quick = 1;
    ::setsockopt(int(m_socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
    readAvailable();
}

void TcpTransport::pushOut()
{
    // A failed write reports the error, and a close, from inside flush(): those reports are
    // handled from the event loop, so that the caller in the middle of sending is not re-entered.
    m_pushing = true;
    m_socket->flush();
    m_pushing = false;
}

void TcpTransport::shutDown()
{
    markClosed();
    m_socket->disconnect(this);
    m_socket->abort();
}

void TcpTransport::handleConnected()
{
    m_connected = true;
    // Frames and single ACK bytes go out at once instead of waiting to be coalesced.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit opened();
    emit connected();
}

void TcpTransport::handleError(QAbstractSocket::SocketError error)
{
    if (m_pushing) {
        QMetaObject::invokeMethod(this, [this, error] { handleError(error); }, Qt::QueuedConnection);
        return;
    }
    if (!m_connected) {
        if (m_failed)
            return;
        m_failed = true;
        reportOpenFailed({error == QAbstractSocket::ConnectionRefusedError ? LinkFailure::Kind::Refused
                                                                           : LinkFailure::Kind::Unreachable,
                          m_socket->errorString()});
        return;
    }
    // A peer that closes mid-frame has delivered its last bytes through readyRead already; take
    // whatever is still buffered before the link ends.
    readAvailable();
    reportLost(error == QAbstractSocket::RemoteHostClosedError ? closedReason() : m_socket->errorString());
}

void TcpTransport::handleDisconnected()
{
    if (m_pushing) {
        QMetaObject::invokeMethod(this, &TcpTransport::handleDisconnected, Qt::QueuedConnection);
        return;
    }
    if (!m_connected)
        return;
    readAvailable();
    reportLost(closedReason());
}
