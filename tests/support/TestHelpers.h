#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Runs kestra-emu (the path comes from the KESTRA_EMU environment variable that CTest sets)
// on loopback TCP with an ephemeral port and, when asked, on a pseudo-terminal, and stops it
// when destroyed.
class EmulatorProcess
{
public:
    struct Options
    {
        bool pty = false;
        QStringList extraArgs; // fault modes and the like
    };

    EmulatorProcess();
    explicit EmulatorProcess(Options options);
    ~EmulatorProcess();

    // Starts the emulator and waits until it says where it listens. False with a reason in
    // errorText() when it did not come up.
    bool start();
    void stop();

    quint16 tcpPort() const { return m_tcpPort; }
    QString ptyPath() const { return m_ptyPath; }
    QString tracePath() const { return m_tracePath; }
    QByteArray trace() const; // the trace file as written so far
    QString errorText() const { return m_error; }

private:
    Options m_options;
    std::unique_ptr<QProcess> m_process;
    QTemporaryDir m_dir;
    quint16 m_tcpPort = 0;
    QString m_ptyPath;
    QString m_tracePath;
    QString m_error;
};
