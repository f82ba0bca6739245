#include "transport/PortAccess.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>
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
