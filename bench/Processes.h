#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include <sys/resource.h>

namespace bench {

// kestra-emu for a benchmark: no trace (writing one would slow the device down for every
// client alike and blur the ratios), an ephemeral loopback port, and a pseudo-terminal in a
// private temporary folder when asked.
class Emulator
{
public:
    explicit Emulator(QString program) : m_program(std::move(program)) {}
    ~Emulator() { stop(); }

    // Starts it with the extra arguments and waits (at most 10 s) until it reports "ready".
    bool start(const QStringList &extraArgs, bool tcp = true, bool pty = false);
    void stop();

    quint16 tcpPort() const { return m_port; }
    QString ptyPath() const { return m_ptyPath; }
    QString errorText() const { return m_error; }

    // Reads the emulator's "kestra-emu: tcp HOST:PORT" / "kestra-emu: pty PATH" lines.
    static std::optional<quint16> parseTcpLine(const QByteArray &line);
    static std::optional<QString> parsePtyLine(const QByteArray &line);

private:
    QString m_program;
    std::unique_ptr<QProcess> m_process;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QString m_ptyPath;
    QString m_error;
};

// The JSON object that a benchmark program prints as its last line starting with '{'.
std::optional<QJsonObject> lastJsonLine(const QByteArray &output);

// Runs a program to its end (at most timeoutMs) with extra environment entries ("NAME=value")
// and returns its JSON result; on failure the reason goes into error.
std::optional<QJsonObject> runForJson(const QString &program, const QStringList &args,
                                      const QStringList &extraEnv, int timeoutMs, QString &error);

// A child started with posix_spawn and reaped with wait4, so that its resource usage (peak RSS)
// comes from outside. BENCH_T0_NS in its environment holds CLOCK_MONOTONIC taken right before the
// spawn.
struct SpawnResult
{
    bool ok = false;
    int exitStatus = -1;
    QByteArray output;
    rusage usage{};
    QString error;
};
// quietStderr: the child's standard error goes to /dev/null (a run that is meant to fail).
SpawnResult spawnMeasured(const QStringList &argv, const QStringList &extraEnv, int timeoutMs, bool quietStderr = false);

} // namespace bench
