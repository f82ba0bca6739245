#include "control/LinkJournal.h"

#include <QAbstractEventDispatcher>
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

QByteArray LinkJournal::timestamp()
{
    // The C library's clock and formatting: several times cheaper than a QDateTime, and this runs
    // for every step of every command.
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc {};
    gmtime_r(&now.tv_sec, &utc);
    char text[32];
    const int size = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                                   utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                                   long(now.tv_nsec / 1000000));
    return QByteArray(text, size);
}

QByteArray LinkJournal::hexAndText(QByteArrayView bytes)
{
    QByteArray text;
    text.reserve(bytes.size() * 4 + 3);
    text += QByteArray::fromRawData(bytes.data(), bytes.size()).toHex(' ');
    text += " |";
    for (char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    text += '|';
    return text;
}

QString LinkJournal::quoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString LinkJournal::bytesOrNone(QByteArrayView bytes)
{
    return bytes.isEmpty() ? QStringLiteral("(none)") : QString::fromLatin1(hexAndText(bytes));
}

QByteArray LinkJournal::stamp()
{
    // The lines of one step happen within microseconds: one reading of the clock serves them.
    if (m_holds == 0)
        return timestamp();
    if (m_heldStamp.isEmpty())
        m_heldStamp = timestamp();
    return m_heldStamp;
}

void LinkJournal::bytes(Direction direction, const char *kind, QByteArrayView data)
{
    if (!m_stream)
        return;
    QByteArray line = stamp();
    line += ' ' + m_link + (direction == Direction::In ? " in " : " out ") + kind + ' ';
    line += hexAndText(data);
    write(line);
}

void LinkJournal::event(const char *kind, const QString &text)
{
    if (!m_stream)
        return;
    QByteArray line = stamp();
    line += ' ' + m_link + " -- " + kind + ' ' + text.toUtf8();
    write(line);
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
