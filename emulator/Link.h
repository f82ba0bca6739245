#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// One byte channel to a client: a TCP connection or the pseudo-terminal.
class Link : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QString name() const = 0;
    virtual void send(const QByteArray &bytes) = 0;
    // Hangs up once what was sent so far has gone out.
    virtual void closeAfterSending() = 0;

signals:
    void received(const QByteArray &bytes);
    // The client went away, or the link hung up on its own. A TCP link is finished after this;
    // the pseudo-terminal opens a fresh one at the same path.
    void closed();
};
