#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool fail(QString *error, const QString &path, int reason)
{
    *error = QStringLiteral("%1: %2").arg(path, systemReason(reason));
    return false;
}

} // namespace

OutputFile::~OutputFile()
{
    abandon();
}

bool OutputFile::open(const QString &path, QString *error)
{
    m_path = path;
    if (path.isEmpty() || path == u"-") {
        m_stream = stdout;
        return true;
    }
    // Through a symbolic link to where the file is, so that the link stays a link.
    const QByteArray named = QFile::encodeName(path);
    char *resolved = ::realpath(named.constData(), nullptr);
    QByteArray target = named;
    if (resolved) {
        target = resolved;
        std::free(resolved);
    }
    m_target = QFile::decodeName(target);
    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return fail(error, path, EISDIR);
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe: written in place, and never removed.
        m_stream = std::fopen(target.constData(), "we");
        return m_stream ? true : fail(error, path, errno);
    }
    const QFileInfo where(m_target);
    QByteArray pattern = QFile::encodeName(where.absolutePath() + QStringLiteral("/.") + where.fileName()
                                           + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, path, errno);
    m_temporary = QFile::decodeName(pattern);
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0600;
    m_stream = ::fchmod(fd, mode) == 0 ? ::fdopen(fd, "w") : nullptr;
    if (!m_stream) {
        const int reason = errno;
        ::close(fd);
        abandon();
        return fail(error, path, reason);
    }
    return true;
}

bool OutputFile::commit(QString *error)
{
    if (!m_stream)
        return fail(error, m_path, EBADF);
    std::FILE *stream = m_stream;
    m_stream = nullptr;
    errno = 0;
    bool written = std::fflush(stream) == 0 && !std::ferror(stream);
    int reason = errno ? errno : EIO;
    if (stream == stdout) {
        if (!written)
            return fail(error, QStringLiteral("standard output"), reason);
        return true;
    }
    if (written && !m_temporary.isEmpty() && ::fsync(fileno(stream)) != 0) {
        written = false;
        reason = errno;
    }
    if (std::fclose(stream) != 0 && written) {
        written = false;
        reason = errno;
    }
    if (written && !m_temporary.isEmpty()
        && ::rename(QFile::encodeName(m_temporary).constData(), QFile::encodeName(m_target).constData()) != 0) {
        written = false;
        reason = errno;
    }
    if (!written) {
        abandon();
        *error = QStringLiteral("%1: writing failed: %2").arg(m_path, systemReason(reason));
        return false;
    }
    m_temporary.clear();
    return true;
}

void OutputFile::abandon()
{
    if (m_stream && m_stream != stdout)
        std::fclose(m_stream);
    m_stream = nullptr;
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
    m_temporary.clear();
}
