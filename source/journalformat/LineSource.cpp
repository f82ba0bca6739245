#include "LineSource.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

// Most lines are short: the buffer starts small and grows only for a long line.
constexpr qsizetype kFirstBuffer = 32 * 1024;

} // namespace

LineSource::~LineSource()
{
    close();
}

bool LineSource::open(const QString &path, QString *error)
{
    close();
    if (path == u"-") {
        m_file = stdin;
    } else {
        m_file = std::fopen(QFile::encodeName(path).constData(), "rbe");
        if (!m_file) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        m_ownsFile = true;
    }
    m_path = path;
    m_buffer.resize(kFirstBuffer);
    m_start = m_end = 0;
    m_eof = m_error = false;
    m_errorText.clear();
    m_lineNumber = 0;
    return true;
}

void LineSource::open(std::FILE *stream, const QString &name)
{
    close();
    m_file = stream;
    m_path = name;
    m_buffer.resize(kFirstBuffer);
    m_start = m_end = 0;
    m_eof = m_error = false;
    m_errorText.clear();
    m_lineNumber = 0;
}

void LineSource::close()
{
    if (m_file && m_ownsFile)
        std::fclose(m_file);
    m_file = nullptr;
    m_ownsFile = false;
}

bool LineSource::fill()
{
    // Moves what is left to the front and reads behind it.
    if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(m_end - m_start));
        m_end -= m_start;
        m_start = 0;
    }
    if (m_eof || m_end == m_buffer.size())
        return false;
    const size_t got = std::fread(m_buffer.data() + m_end, 1, size_t(m_buffer.size() - m_end), m_file);
    if (got == 0) {
        m_error = std::ferror(m_file) != 0;
        if (m_error)
            m_errorText = QString::fromLocal8Bit(std::strerror(errno));
        m_eof = true;
        return false;
    }
    m_end += qsizetype(got);
    return true;
}

LineSource::Status LineSource::next(QByteArrayView *line)
{
    if (!m_file)
        return Status::End;
    qsizetype searched = m_start;
    for (;;) {
        const char *found = static_cast<const char *>(
            std::memchr(m_buffer.constData() + searched, '\n', size_t(m_end - searched)));
        if (found) {
            const qsizetype at = found - m_buffer.constData();
            *line = QByteArrayView(m_buffer.constData() + m_start, at - m_start);
            m_start = at + 1;
            ++m_lineNumber;
            return Status::Line;
        }
        const qsizetype held = m_end - m_start;
        if (held >= kMaxLine) {
            // Skips to the end of this line, reading as little as it can hold at a time.
            ++m_lineNumber;
            for (;;) {
                m_start = m_end = 0;
                // (the buffer is full size here: a line longer than it is skipped a buffer at a time)
                if (!fill())
                    return m_error ? Status::ReadError : Status::TooLong;
                if (const char *end = static_cast<const char *>(std::memchr(m_buffer.constData(), '\n', size_t(m_end)))) {
                    m_start = end - m_buffer.constData() + 1;
                    return Status::TooLong;
                }
            }
        }
        if (held == m_buffer.size()) // a long line: the buffer grows, up to kMaxLine
            m_buffer.resize(qMin(m_buffer.size() * 2, kMaxLine + 1));
        if (!fill()) {
            if (m_error)
                return Status::ReadError;
            if (m_end == m_start)
                return Status::End;
            *line = QByteArrayView(m_buffer.constData() + m_start, m_end - m_start);
            m_start = m_end;
            ++m_lineNumber;
            return Status::CutShort;
        }
        searched = m_start + held;
    }
}
