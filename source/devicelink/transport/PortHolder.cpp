#include "transport/PortHolder.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// The program's name: the file name of its first argument, else the kernel's short name.
QString programOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.readAll().split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QFile::decodeName(first)).fileName();
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll().trimmed());
    return {};
}

} // namespace

PortHolder deviceLockHolder(const QString &path, qint64 ownPid)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    // A line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 4242 00:19:3 0 EOF", the file given as
    // the major and minor number (hexadecimal) of its file system's device and its inode.
    const QByteArray file = QStringLiteral("%1:%2:%3")
                                .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(quint64(info.st_ino))
                                .toLatin1();
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    // Read whole: a file of /proc reports a size of 0, so a line-by-line read would stop at once.
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // A lock waited for shows as "1: -> FLOCK ..."; only a granted lock holds the port.
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != file)
            continue;
        const qint64 pid = fields[4].toLongLong();
        if (pid == ownPid)
            continue;
        PortHolder holder;
        if (pid > 0) {
            holder.pid = pid;
            holder.program = programOf(pid);
        }
        return holder;
    }
    return {};
}

std::optional<PortHolder> lockFileHolder(const QString &path)
{
    // Qt names the lock after the port without "/dev/", every "/" made "_", and puts it in the
    // first of these directories it may use.
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                                  "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        QFile lock(QLatin1String(directory) + QLatin1String("/LCK..") + name);
        if (!lock.exists())
            continue;
        if (!lock.open(QIODevice::ReadOnly))
            return PortHolder{}; // someone else's lock, not readable here
        // QLockFile's content: the process id, the application's name, the host name.
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        const qint64 pid = lines.value(0).trimmed().toLongLong();
        if (!processAlive(pid))
            return std::nullopt;
        const QString program = programOf(pid);
        return PortHolder{pid, program.isEmpty() ? QString::fromUtf8(lines.value(1).trimmed()) : program};
    }
    return std::nullopt;
}

QString portBusyText(const PortHolder &holder)
{
    QString who = QStringLiteral("another program");
    if (!holder.program.isEmpty() && holder.pid > 0)
        who += QStringLiteral(", %1 (process %2)").arg(holder.program).arg(holder.pid);
    else if (holder.pid > 0)
        who += QStringLiteral(" (process %1)").arg(holder.pid);
    else if (!holder.program.isEmpty())
        who += QStringLiteral(", %1").arg(holder.program);
    return QStringLiteral("the port is in use by %1; close it, or wait until it has finished").arg(who);
}
