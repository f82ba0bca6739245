#pragma once

#include "JournalLine.h"
#include "JournalSessions.h"
#include "LineSource.h"

#include <QString>

// The lines of a journal file one after the other, each cut into its parts. Strict reading
// stops at the first line that is not a journal line; lenient reading skips such lines and
// counts them. Either way a problem is told as "FILE:LINE: reason".
class JournalReader
{
public:
    enum class Mode { Strict, Lenient };

    explicit JournalReader(Mode mode) : m_mode(mode) {}

    // False with "FILE: reason" when the file cannot be opened.
    bool open(const QString &path, QString *error);
    // Reads an open stream, which stays the caller's.
    void open(std::FILE *stream, const QString &name) { m_source.open(stream, name); }
    // The next journal line; false at the end of the file or at a problem (error()).
    bool next(JournalLine *line);
    // The bytes of the last byte line.
    const QByteArray &bytes() const { return m_bytes; }
    qint64 lineNumber() const { return m_source.lineNumber(); }
    const QString &path() const { return m_source.path(); }
    // "FILE:LINE: " for messages about the current line.
    QString where() const;

    // Strict: why reading stopped early; empty at a clean end. Lenient: a read error only.
    const QString &error() const { return m_error; }
    qint64 skipped() const { return m_skipped; }
    qint64 linesRead() const { return m_linesRead; }
    // The first line skipped and why ("FILE:LINE: reason").
    const QString &firstSkipped() const { return m_firstSkipped; }

private:
    bool problem(const QByteArray &reason);

    Mode m_mode;
    LineSource m_source;
    SessionTracker m_sessions;
    QByteArray m_bytes;
    QByteArray m_reason;
    QString m_error;
    QString m_firstSkipped;
    qint64 m_skipped = 0;
    qint64 m_linesRead = 0;
};
