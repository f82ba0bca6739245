#include "LinkJournal.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>

LinkJournal::~LinkJournal()
{
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
    std::FILE *stream = std::fopen(QFile::encodeName(path).constData(), "ae");
    if (!stream) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_stream = stream;
    m_ownsStream = true;
    m_path = path;
    return true;
}

void LinkJournal::close()
{
    if (m_stream && m_ownsStream)
        std::fclose(m_stream);
    m_stream = nullptr;
    m_ownsStream = false;
}

QByteArray LinkJournal::timestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
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

void LinkJournal::bytes(Direction direction, const char *kind, QByteArrayView data)
{
    if (!m_stream)
        return;
    QByteArray line = timestamp();
    line += ' ' + m_link + (direction == Direction::In ? " in " : " out ") + kind + ' ';
    line += hexAndText(data);
    write(line);
}

void LinkJournal::event(const char *kind, const QString &text)
{
    if (!m_stream)
        return;
    QByteArray line = timestamp();
    line += ' ' + m_link + " -- " + kind + ' ' + text.toUtf8();
    write(line);
}

void LinkJournal::write(const QByteArray &line)
{
    const size_t size = size_t(line.size());
    const bool written = std::fwrite(line.constData(), 1, size, m_stream) == size
                         && std::fputc('\n', m_stream) != EOF && std::fflush(m_stream) == 0;
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
