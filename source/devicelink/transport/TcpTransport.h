#pragma once

#include "transport/LinkTransport.h"

#include <QAbstractSocket>

class QTcpSocket;

// A TCP connection to the device. It opens later: until opened() it reports failure through
// openFailed(), refused or unreachable with the system's words; once connected, any socket error
// or the peer's close ends the link (lost()).
class TcpTransport : public LinkTransport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    ~TcpTransport() override;

    // Starts connecting to the address's IPv4 address and port; answers Pending.
    Opening open(const LinkAddress &address) override;
    bool opensLater() const override { return true; }
    // Starts connecting; the outcome arrives as opened() (then connected()) or openFailed().
    void connectTo(quint32 ipv4, quint16 port);
    // The same for a host name or an address in text (a device server's URL).
    void connectTo(const QString &host, quint16 port);

    // Who is at the far end, for the words of its hang-up: "the device closed the connection",
    // or "the server ..." when the device sits behind a device server.
    enum class Peer { Device, Server };
    void setPeer(Peer peer) { m_peer = peer; }

    void shutDown() override;

signals:
    // The connection is made: emitted right after opened(), for whoever follows the socket itself.
    void connected();

private:
    bool isReady() const override { return m_connected; }
    void pushOut() override;
    void handleConnected();
    void handleReadyRead();
    void handleError(QAbstractSocket::SocketError error);
    void handleDisconnected();

    QTcpSocket *m_socket = nullptr;
    bool m_connected = false;
    bool m_failed = false;
    bool m_pushing = false; // inside pushOut()
    Peer m_peer = Peer::Device;
    QString closedReason() const;
};
