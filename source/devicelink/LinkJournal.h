#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>

// An append-only, line-oriented record of a link: opens, closes and failures, every command with
// every frame that went out and came in, and how each command ended. One event per line:
//
//   <ISO 8601 UTC time, ms> <link> <in|out|--> <kind> <hex bytes> |<printable>|
//   <ISO 8601 UTC time, ms> <link> -- <event> <text>
//
// The byte notation is the emulator's trace notation, so that a journal and a trace of the same
// session read side by side (docs/journal.md). Every line is flushed as it is written, so nothing
// is lost when the program is killed. When a write fails (a full disk), the journal says so once
// on standard error and stops; the program goes on.
class LinkJournal
{
public:
    enum class Direction { In, Out };

    LinkJournal() = default;
    ~LinkJournal();
    LinkJournal(const LinkJournal &) = delete;
    LinkJournal &operator=(const LinkJournal &) = delete;

    // Appends to path ("-" is standard error). False with the system's reason when it cannot.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_stream != nullptr; }
    QString path() const { return m_path; }

    // The name the lines carry for the link now in use ("com1", "tcp").
    void setLink(const QString &name) { m_link = name.toUtf8(); }

    void bytes(Direction direction, const char *kind, QByteArrayView bytes);
    void event(const char *kind, const QString &text);

    // "<hex bytes> |<printable>|", as the trace writes bytes.
    static QByteArray hexAndText(QByteArrayView bytes);
    // The same within an event's text, "(none)" for no bytes.
    static QString bytesOrNone(QByteArrayView bytes);
    // Text in double quotes with \\, \" and control characters escaped, so that it stays on its line.
    static QString quoted(const QString &text);
    // A line's leading time stamp for now: 2026-12-07T16:05:25.123Z.
    static QByteArray timestamp();

private:
    void write(const QByteArray &line);
    void close();

    std::FILE *m_stream = nullptr;
    bool m_ownsStream = false;
    QString m_path;
    QByteArray m_link = "-";
};
