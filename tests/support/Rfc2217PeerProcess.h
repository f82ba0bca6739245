#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// rfc2217_dsr_peer.py as a child process: a remote serial port for one client on a free
// loopback port, whose DSR the test drops and raises (a pseudo-terminal behind ser2net has no
// modem lines to report). The client's bytes come back to it, as on a looped-back line.
class Rfc2217PeerProcess
{
public:
    Rfc2217PeerProcess();
    ~Rfc2217PeerProcess();

    // True when /usr/bin/python3 has pyserial (python3-serial); tests QSKIP with skipReason().
    static bool available();
    static QString skipReason();

    // Starts it and waits (at most 5 s) for the port it listens on.
    bool start();
    // Closes its stdin, on which it ends (and drops its client), and waits.
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString errorText() const { return m_error; }

    void setDsr(bool on); // NOTIFY-MODEMSTATE goes out at once
    void sendFromDevice(const QByteArray &bytes); // the "device" sends these to the client
    void hangUp(); // closes the client's connection

    // What it said the client did, one line each: "connected", "baudrate 19200", "dtr on",
    // "closed", ... (the port line not included).
    QStringList events();
    // Waits (event-driven, at most timeoutMs) until an event line equals line.
    bool waitForEvent(const QString &line, int timeoutMs = 5000);

private:
    void command(const QByteArray &line);
    void takeLines();

    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QStringList m_events;
    QString m_error;
};
