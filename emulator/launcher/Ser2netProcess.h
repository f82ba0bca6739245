#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// ser2net in front of a serial device (in the tests: the emulator's pseudo-terminal link), on a
// free loopback port, with its own configuration file in a temporary directory; never the
// system's service or its /etc configuration. Stopped when destroyed.
//
// ser2net opens the device when a client connects and closes it when the client goes, so the
// emulator may start after ser2net, and after the emulator hangs up (a new pseudo-terminal
// behind the same link) the next connection reaches the new one. Give it the link, not the
// /dev/pts/N it leads to: that name goes stale at a hang-up and may be another process's
// pseudo-terminal by then.
class Ser2netProcess
{
public:
    enum class Accepter {
        Rfc2217, // telnet(rfc2217),tcp,...: the remote serial port a client sets up
        Telnet,  // telnet,tcp,...: Telnet, but it refuses the COM-PORT option (44)
        Raw,     // tcp,...: bytes straight to the device, Telnet commands included
    };

    struct Options
    {
        QString devicePath;                 // the emulator's ptyPath()
        QString lineSettings = QStringLiteral("9600n81");
        Accepter accepter = Accepter::Rfc2217;
        // "local": no carrier needed and no modem lines asked of a pseudo-terminal, which has
        // none. "nobreak": the break state it reports reads off, as on an idle line.
        QStringList deviceOptions{QStringLiteral("local"), QStringLiteral("nobreak")};
    };

    Ser2netProcess();
    explicit Ser2netProcess(Options options);
    ~Ser2netProcess();

    // True when ser2net is on PATH; tests QSKIP with skipReason() otherwise.
    static bool available();
    static QString skipReason();

    // Writes the configuration, starts ser2net and waits (at most 5 s) until it listens on the
    // port. False with a reason and ser2net's own words in errorText() when it did not.
    bool start();
    // SIGTERM and a wait: ser2net closes its clients' connections and the device, whose line
    // settings it puts back as it found them.
    void stop();
    // SIGKILL: ser2net gone in the middle of whatever it was doing; the client's connection
    // ends without a word and the device keeps the line settings it had.
    void kill();
    bool isRunning() const;
    qint64 processId() const;

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString configPath() const;
    QByteArray configText() const { return m_config; }
    QByteArray log() const; // what ser2net wrote: with -d its log lines, which name what went wrong
    QString errorText() const { return m_error; }

    // The configuration start() writes for port.
    static QByteArray configFor(const Options &options, quint16 port);

private:
    enum class Wait { Listening, PortTaken, Refused, Ended, TimedOut };
    bool startOnce(quint16 port);
    Wait waitUntilListening(int timeoutMs);
    bool listensOnPort() const;
    void endProcess(bool hard);

    Options m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QByteArray m_config;
    QString m_error;
};

// The bit rate a terminal device is set to, read with termios from path (a pseudo-terminal's
// link will do: its master and slave share one setting); nullopt when it cannot be read or is
// not one of the standard rates.
std::optional<int> terminalBitsPerSecond(const QString &path);
