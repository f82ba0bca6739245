#pragma once

#include "transport/ComPortControl.h"
#include "transport/LinkTransport.h"
#include "transport/ModemLines.h"

#include <QTimer>

class TcpTransport;

// A serial port behind a device server (ser2net, a rack device server) that speaks RFC 2217:
// a TCP connection to the server, Telnet around the device's bytes, and the com-port option to
// set the line. It opens later: once connected, the line's speed and framing are asked for and
// the link opens only when the server has confirmed each of them as asked; a server that does
// not take the option, leaves a setting unconfirmed or sets another value fails the open with
// what it did. Once open, the device's bytes go through Telnet both ways (IAC doubled), DSR
// follows the server's NOTIFY-MODEMSTATE and the server's hang-up ends the link as over TCP.
class Rfc2217Transport : public LinkTransport, public ModemLines
{
    Q_OBJECT
public:
    // How long each stage of the open may take: the connection, then the server's answers.
    static constexpr int kConnectMs = kOpenLimitMs;
    static constexpr int kNegotiationMs = 3000;

    explicit Rfc2217Transport(QObject *parent = nullptr);
    ~Rfc2217Transport() override;

    // Connects to the address's host and port and sets the line at its speed, 8N1; answers Pending.
    Opening open(const LinkAddress &address) override;
    bool opensLater() const override { return true; }
    int openLimitMs() const override { return kConnectMs + kNegotiationMs + 1000; }
    std::optional<SerialLine> confirmedLine() const override;

    bool send(QByteArrayView bytes) override;
    void shutDown() override;
    ModemLines *modemLines() override { return this; }
    // DSR as the server last reported it; nothing before its first report (as on a port that
    // cannot tell), so that a server without modem lines does not fail every DSR check.
    std::optional<bool> dsrActive() override { return m_port.dsr(); }

private:
    bool isReady() const override;
    void pushOut() override {}
    bool writeOut();
    void handleConnected();
    void handleBytes(const QByteArray &bytes);
    void handleEvent(const ComPortControl::Event &event);
    void handleTcpLost();
    void handleNegotiationTimeout();
    void failOpen(const LinkFailure &failure);
    // What the server said in plain text before it hung up during the open ("Port already in
    // use"), for the failure's words.
    QString serverWords() const;

    TcpTransport *m_tcp = nullptr;
    ComPortControl m_port;
    SerialLine m_line;
    QTimer m_limit;
    bool m_opening = false;
    QByteArray m_earlyData; // the device's (or the server's) bytes before the port was set up
    std::optional<bool> m_lastDsr;
};
