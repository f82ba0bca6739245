#include "Processes.h"

#include "BenchSupport.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcessEnvironment>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

std::optional<QJsonObject> lastJsonLine(const QByteArray &output)
{
    const QList<QByteArray> lines = output.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (!line.startsWith('{'))
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error == QJsonParseError::NoError && document.isObject())
            return document.object();
        return std::nullopt; // the result line is damaged; an earlier one is not the result
    }
    return std::nullopt;
}

std::optional<QJsonObject> runForJson(const QString &program, const QStringList &args,
                                      const QStringList &extraEnv, int timeoutMs, QString &error)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : extraEnv) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        environment.insert(entry.left(eq), entry.mid(eq + 1));
    }
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        error = QStringLiteral("%1 did not start: %2").arg(program, process.errorString());
        return std::nullopt;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        error = QStringLiteral("%1 %2 did not finish within %3 s").arg(program, args.join(' ')).arg(timeoutMs / 1000);
        return std::nullopt;
    }
    const QByteArray output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = QStringLiteral("%1 %2 ended with status %3").arg(program, args.join(' ')).arg(process.exitCode());
        return std::nullopt;
    }
    auto result = lastJsonLine(output);
    if (!result)
        error = QStringLiteral("%1 %2 printed no result").arg(program, args.join(' '));
    return result;
}

SpawnResult spawnMeasured(const QStringList &argv, const QStringList &extraEnv, int timeoutMs, bool quietStderr)
{
    SpawnResult result;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        result.error = QStringLiteral("pipe: %1").arg(qt_error_string(errno));
        return result;
    }

    // Every string the child receives is prepared before the clock is read.
    std::vector<QByteArray> argStore;
    for (const QString &arg : argv)
        argStore.push_back(arg.toLocal8Bit());
    std::vector<QByteArray> envStore;
    for (char **entry = environ; *entry; ++entry)
        if (!QByteArray(*entry).startsWith("BENCH_T0_NS="))
            envStore.emplace_back(*entry);
    for (const QString &entry : extraEnv)
        envStore.push_back(entry.toLocal8Bit());
    envStore.emplace_back(QByteArray("BENCH_T0_NS=") + QByteArray(24, '0'));
    QByteArray &t0Entry = envStore.back();
    std::vector<char *> childArgv;
    for (QByteArray &arg : argStore)
        childArgv.push_back(arg.data());
    childArgv.push_back(nullptr);
    std::vector<char *> childEnv;
    for (QByteArray &entry : envStore)
        childEnv.push_back(entry.data());
    childEnv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (quietStderr)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // Written in place, so that nothing is allocated between the clock and the spawn.
    std::snprintf(t0Entry.data(), size_t(t0Entry.size()) + 1, "BENCH_T0_NS=%lld",
                  static_cast<long long>(monotonicNs()));
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, childArgv[0], &actions, nullptr, childArgv.data(), childEnv.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        result.error = QStringLiteral("spawn %1: %2").arg(argv.value(0), qt_error_string(rc));
        return result;
    }

    QDeadlineTimer deadline(timeoutMs);
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        result.output.append(buffer, got);
    }
    ::close(pipeFds[0]);

    int status = 0;
    while (::wait4(pid, &status, 0, &result.usage) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        result.error = QStringLiteral("%1 did not finish within %2 s").arg(argv.join(' ')).arg(timeoutMs / 1000);
        return result;
    }
    if (!WIFEXITED(status)) {
        result.error = QStringLiteral("%1 was killed by signal %2").arg(argv.join(' ')).arg(WTERMSIG(status));
        return result;
    }
    result.exitStatus = WEXITSTATUS(status);
    result.ok = result.exitStatus == 0;
    if (!result.ok)
        result.error = QStringLiteral("%1 ended with status %2").arg(argv.join(' ')).arg(result.exitStatus);
    return result;
}

} // namespace bench
