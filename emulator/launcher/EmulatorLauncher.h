#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// kestra-emu as a child process, for the tests and the benchmarks alike: starts it on loopback
// TCP (an ephemeral port) and, when asked, on a pseudo-terminal, reads the start-up lines in which
// it says where it listens and that it is ready, and ends it with SIGTERM, so that it removes its
// pseudo-terminal link.
class EmulatorLauncher
{
public:
    struct Options
    {
        bool tcp = true;        // false: --no-tcp
        QString ptyLink;        // where the pseudo-terminal's link goes; empty: no pseudo-terminal
        QStringList extraArgs;  // trace, fault modes and the like
        QString stderrFile;     // its standard error goes into this file; empty: to ours
    };

    explicit EmulatorLauncher(QString program);
    ~EmulatorLauncher();

    // Starts it and waits (at most 10 s) until it says it is ready. False with a reason in
    // errorText() when it did not come up or did not say where it listens.
    bool start(const Options &options);
    // SIGTERM, and a kill when it has not ended within 5 s.
    void stop();
    bool isRunning() const;
    QProcess *process() const { return m_process.get(); }

    quint16 tcpPort() const { return m_tcpPort; }
    QString ptyPath() const { return m_ptyPath; }
    QString errorText() const { return m_error; }

    // Its "kestra-emu: tcp HOST:PORT" and "kestra-emu: pty PATH" lines.
    static std::optional<quint16> parseTcpLine(const QByteArray &line);
    static std::optional<QString> parsePtyLine(const QByteArray &line);

private:
    bool readStartUpLines(const Options &options);
    QString endedText(const Options &options) const;

    QString m_program;
    std::unique_ptr<QProcess> m_process;
    quint16 m_tcpPort = 0;
    QString m_ptyPath;
    QString m_error;
};
