#pragma once

#include "EmulatorLauncher.h"

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
    explicit Emulator(QString program) : m_launcher(std::move(program)) {}

    // Starts it with the extra arguments and waits (at most 10 s) until it reports "ready".
    bool start(const QStringList &extraArgs, bool tcp = true, bool pty = false)
    {
        return m_launcher.start({tcp, pty ? m_dir.filePath(QStringLiteral("ttyKestra")) : QString(), extraArgs, {}});
    }
    void stop() { m_launcher.stop(); }

    quint16 tcpPort() const { return m_launcher.tcpPort(); }
    QString ptyPath() const { return m_launcher.ptyPath(); }
    QString errorText() const { return m_launcher.errorText(); }

private:
    QTemporaryDir m_dir; // outlives the launcher: the emulator removes its link in there when stopped
    EmulatorLauncher m_launcher;
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
