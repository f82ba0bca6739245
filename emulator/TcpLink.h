#pragma once

#include "Link.h"

#include <QTcpSocket>

class TcpLink : public Link
{
    Q_OBJECT
public:
    TcpLink(QTcpSocket *socket, int number, QObject *parent = nullptr);
    ~TcpLink() override;

    QString name() const override { return m_name; }
    void send(const QByteArray &bytes) override;
    void closeAfterSending() override;
    QString peer() const;

signals:
    // The client let too much go unread; the link hangs up.
    void overflowed();

private:
    void readAll();
    void onDisconnected();

    QTcpSocket *m_socket = nullptr; // owned (child)
    QString m_name;
    bool m_closed = false;
};
