#include "JournalReader.h"

bool JournalReader::open(const QString &path, QString *error)
{
    QString reason;
    if (m_source.open(path, &reason))
        return true;
    *error = QStringLiteral("%1: %2").arg(path, reason);
    return false;
}

QString JournalReader::where() const
{
    return QStringLiteral("%1:%2: ").arg(path()).arg(lineNumber());
}

bool JournalReader::problem(const QByteArray &reason)
{
    const QString text = where() + QString::fromUtf8(reason);
    if (m_mode == Mode::Strict) {
        m_error = text;
        return false;
    }
    if (m_skipped++ == 0)
        m_firstSkipped = text;
    return true;
}

bool JournalReader::next(JournalLine *line)
{
    for (;;) {
        QByteArrayView text;
        switch (m_source.next(&text)) {
        case LineSource::Status::End:
            return false;
        case LineSource::Status::ReadError:
            m_error = QStringLiteral("%1: reading failed after line %2: %3").arg(path()).arg(lineNumber()).arg(m_source.errorText());
            return false;
        case LineSource::Status::TooLong:
            if (!problem("a line longer than any journal line (1 MiB)"))
                return false;
            continue;
        case LineSource::Status::CutShort:
            if (!problem("the last line is cut short (no newline): the journal is truncated"))
                return false;
            continue;
        case LineSource::Status::Line:
            break;
        }
        ++m_linesRead;
        if (parseJournalLine(text, line, &m_bytes, &m_reason)) {
            line->sessionNumber = m_sessions.assign(*line);
            return true;
        }
        if (!problem(m_reason))
            return false;
    }
}
