#include "control/LinkJournal.h"

#include "JournalRedaction.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <ctime>
#include <cstring>

LinkJournal::~LinkJournal()
{
    flush();
    close();
}

bool LinkJournal::open(const QString &path, QString *error)
{
    close();
    if (path == QLatin1String("-")) {
        m_stream = stderr;
        m_ownsStream = false;
        m_path = path;
        return true;
    }
    // The journal holds what went to and came from cards (stripe contents, print text): a file
    // created here is for its owner alone, whatever the umask. A file that exists already keeps the
    // mode and owner someone chose for it.
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    // A umask such as 0277 takes bits from the 0600 above.
    const bool usable = fd >= 0 && (!created || ::fchmod(fd, 0600) == 0);
    std::FILE *stream = usable ? ::fdopen(fd, "a") : nullptr;
    if (!stream) {
        const int reason = errno;
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(reason));
        return false;
    }
    m_stream = stream;
    m_ownsStream = true;
    m_path = path;
    return true;
}

void LinkJournal::close()
{
    m_pending.clear();
    if (m_stream && m_ownsStream)
        std::fclose(m_stream);
    m_stream = nullptr;
    m_ownsStream = false;
}

void LinkJournal::beginSession(const QString &name)
{
    m_link = name.toUtf8();
    m_session = Journal::sessionToken(QCoreApplication::applicationPid(), ++m_sessions);
}

QByteArray LinkJournal::stamp()
{
    // The lines of one step happen within microseconds: one reading of the clock serves them.
    if (m_holds == 0)
        return Journal::currentTime();
    if (m_heldStamp.isEmpty())
        m_heldStamp = Journal::currentTime();
    return m_heldStamp;
}

void LinkJournal::bytes(Direction direction, Journal::Kind kind, QByteArrayView data)
{
    if (!m_stream)
        return;
    write(Journal::bytesLine(stamp(), m_link, sessionNow(), direction, kind, data));
}

void LinkJournal::event(Journal::Kind kind, const QString &text)
{
    if (!m_stream)
        return;
    write(Journal::eventLine(stamp(), m_link, sessionNow(), kind, text.toUtf8()));
}

QByteArray LinkJournal::sessionNow()
{
    if (m_session.isEmpty())
        m_session = Journal::sessionToken(QCoreApplication::applicationPid(), 0);
    return m_session;
}

void LinkJournal::release()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    m_heldStamp.clear();
    if (m_pending.isEmpty())
        return;
    // Written when the event loop is about to wait: by then the bytes of this step are out.
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    if (!dispatcher) {
        flush();
        return;
    }
    if (!m_waitWatch) {
        m_waitWatch = std::make_unique<QObject>();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m_waitWatch.get(), [this] { flush(); });
    }
}

void LinkJournal::flush()
{
    if (m_pending.isEmpty())
        return;
    if (m_stream)
        writeOut(m_pending);
    m_pending.clear();
}

void LinkJournal::write(QByteArray line)
{
    if (m_redacting)
        line = Journal::redactLine(line);
    line += '\n';
    m_pending += line;
    if (m_holds == 0 && !m_waitWatch)
        flush();
}

void LinkJournal::writeOut(const QByteArray &lines)
{
    const size_t size = size_t(lines.size());
    const bool written = std::fwrite(lines.constData(), 1, size, m_stream) == size && std::fflush(m_stream) == 0;
    if (written)
        return;
    const QByteArray reason = std::strerror(errno);
    if (m_stream != stderr) {
        std::fprintf(stderr, "journal %s: writing failed (%s); the journal stops here, the link goes on\n",
                     QFile::encodeName(m_path).constData(), reason.constData());
        std::fflush(stderr);
    }
    close();
}
