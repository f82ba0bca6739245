#pragma once

#include "transport/LinkTransport.h"

#include <QAbstractSocket>

class QTcpSocket;

// A TCP connection to the device. Until connected() it reports failure through connectFailed();
// once connected, any socket error or the peer's close ends the link (lost()).
class TcpTransport : public LinkTransport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    ~TcpTransport() override;

    // Starts connecting; the outcome arrives as connected() or connectFailed().
    void connectTo(quint32 ipv4, quint16 port);

    void shutDown() override;
    // Why connecting failed, in the system's words ("Connection refused").
    QString failureReason() const { return m_failureReason; }

signals:
    void connected();
    void connectFailed(bool refused);

private:
    bool isReady() const override { return m_connected; }
    void pushOut() override;
    void handleConnected();
    void handleError(QAbstractSocket::SocketError error);
    void handleDisconnected();

    QTcpSocket *m_socket = nullptr;
    bool m_connected = false;
    bool m_failed = false;
    bool m_pushing = false; // inside pushOut()
    QString m_failureReason;
};
