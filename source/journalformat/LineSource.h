#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>

// Reads a file line by line through one fixed buffer, so that memory stays the same whatever the
// file's size. A line longer than the buffer comes out as too long (its rest is skipped), and a
// last line without its newline as cut short: a journal writes every line whole.
class LineSource
{
public:
    // The longest line read whole: a frame of 65,535 bytes written as hex and text is about
    // 260,000 characters, an end line with that data and its escaped text about 600,000.
    static constexpr qsizetype kMaxLine = 1 << 20;

    LineSource() = default;
    ~LineSource();
    LineSource(const LineSource &) = delete;
    LineSource &operator=(const LineSource &) = delete;

    // "-" reads standard input. False with the system's reason.
    bool open(const QString &path, QString *error);
    // Reads an open stream, which stays the caller's; name is used in messages.
    void open(std::FILE *stream, const QString &name);
    void close();

    enum class Status { Line, TooLong, CutShort, End, ReadError };
    // The next line without its newline, valid until the next call.
    Status next(QByteArrayView *line);
    qint64 lineNumber() const { return m_lineNumber; }
    const QString &path() const { return m_path; }
    // The system's reason for the last ReadError ("Is a directory").
    const QString &errorText() const { return m_errorText; }

private:
    bool fill();

    std::FILE *m_file = nullptr;
    bool m_ownsFile = false;
    QString m_path;
    QByteArray m_buffer;
    qsizetype m_start = 0; // the unread part is m_buffer[m_start, m_end)
    qsizetype m_end = 0;
    bool m_eof = false;
    bool m_error = false;
    QString m_errorText;
    qint64 m_lineNumber = 0;
};
