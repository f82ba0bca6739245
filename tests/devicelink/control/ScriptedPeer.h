#pragma once

#include "protocol/Frame.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// A stand-in device for the control's tests, on loopback TCP or on a pseudo-terminal. It cuts
// what the control sends into items and answers from a script: each command frame or NAK that
// arrives takes the next reply from `replies`. Replies go out whole or in pieces, one piece per
// event-loop turn.
class ScriptedPeer : public QObject
{
    Q_OBJECT
public:
    enum class Line { Tcp, Pty };

    explicit ScriptedPeer(Line line, QObject *parent = nullptr);
    ~ScriptedPeer() override;

    // TCP: listens on 127.0.0.1 at a free port. Pty: opens a pseudo-terminal and names its
    // slave side in PLENKO_COM<comPort>.
    bool start(int comPort = 1);

    Line line() const { return m_line; }
    quint16 port() const;
    QString ptyPath() const { return m_ptyPath; }
    int slaveFd() const { return m_slaveFd; }

    // Script.
    QList<QByteArray> replies;
    int pieceSize = 0;          // 0: each reply in one write
    bool closeAfterLastReply = false;
    // When set, called instead of the script for every command frame.
    std::function<void(const QByteArray &body)> onCommand;

    // Record.
    QList<FrameReader::Item> received;
    QList<QByteArray> commandBodies() const;
    int count(FrameReader::Kind kind) const;

    void write(const QByteArray &bytes);
    // Closes the line: the TCP connection, or the pseudo-terminal's master side.
    void closeLine();
    bool lineOpen() const;

private:
    void acceptConnection();
    void readTcp();
    void readPty();
    void flushPty();
    void consume(const QByteArray &bytes);
    void reply(const QByteArray &bytes, bool thenClose);
    void writeNow(const QByteArray &bytes);

    Line m_line;
    FrameReader m_reader;
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_socket = nullptr;
    int m_masterFd = -1;
    int m_slaveFd = -1;
    QString m_ptyPath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_ptyPending;
    int m_replyIndex = 0;
};

// Processes events, blocking for the next one, until pred() holds or ms have passed.
bool waitUntil(const std::function<bool()> &pred, int ms = 5000);
