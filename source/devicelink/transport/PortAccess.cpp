#include "transport/PortAccess.h"

#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vector>

namespace {

bool userInGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[size_t(i)] == gid)
            return true;
    }
    return false;
}

// A character device is a terminal when the kernel files it under the tty class; pseudo-terminal
// slaves (majors 136-143) are not listed there. Where the system does not say, it is taken as one.
bool isTerminalDevice(dev_t device)
{
    const QString subsystem = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major(device)).arg(minor(device)))
                                  .canonicalFilePath();
    if (!subsystem.isEmpty())
        return subsystem.endsWith(QLatin1String("/tty"));
    return true;
}

QString whyNotATerminal(const struct stat &info)
{
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("a directory, not a serial device");
    if (!S_ISCHR(info.st_mode))
        return S_ISREG(info.st_mode) ? QStringLiteral("a plain file, not a serial device")
                                     : QStringLiteral("not a terminal");
    return isTerminalDevice(info.st_rdev) ? QString() : QStringLiteral("a device that is not a terminal");
}

} // namespace

PortAccess checkPortAccess(const QString &path)
{
    PortAccess access;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        return access;
    access.exists = true;
    access.mayOpen = ::access(native.constData(), R_OK | W_OK) == 0;
    if (const struct group *owner = ::getgrgid(info.st_gid))
        access.group = QString::fromLocal8Bit(owner->gr_name);
    else
        access.group = QString::number(info.st_gid);
    access.inGroup = userInGroup(info.st_gid);
    access.notATerminal = whyNotATerminal(info);
    return access;
}

QString joinGroupHint(const PortAccess &access)
{
    if (!access.exists || access.mayOpen || access.group.isEmpty() || access.group == QLatin1String("root"))
        return {};
    if (access.inGroup) // the mode itself keeps the group out: nothing a group change mends
        return {};
    return QStringLiteral("the device belongs to group %1, which this user is not in: join it with "
                          "\"sudo usermod -aG %1 $USER\", then log out and in again")
        .arg(access.group);
}
