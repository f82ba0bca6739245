#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>
#include <memory>

class QObject;

// An append-only, line-oriented record of a link: opens, closes and failures, every command with
// every frame that went out and came in, and how each command ended. One event per line:
//
//   <ISO 8601 UTC time, ms> <link> <in|out|--> <kind> <hex bytes> |<printable>|
//   <ISO 8601 UTC time, ms> <link> -- <event> <text>
//
// The byte notation is the emulator's trace notation, so that a journal and a trace of the same
// session read side by side (docs/journal.md). Lines reach the file before the program next waits
// for anything, so nothing is lost when it is killed: the lines of one step of the link (a
// response, its ACK and the command's end, say) are collected and written together when the
// event loop is about to wait, after the bytes themselves have gone out, so that writing the
// journal does not hold up the device. Without an event loop, and for opens, closes and
// failures, lines are written at once. When a write fails (a full disk), the journal says so once
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

    // Between hold() and the matching release() lines are collected; the last release() writes
    // them. Holds nest.
    void hold() { ++m_holds; }
    void release();

    void bytes(Direction direction, const char *kind, QByteArrayView bytes);
    void event(const char *kind, const QString &text);
    // Writes whatever is collected now.
    void flush();

    // "<hex bytes> |<printable>|", as the trace writes bytes.
    static QByteArray hexAndText(QByteArrayView bytes);
    // The same within an event's text, "(none)" for no bytes.
    static QString bytesOrNone(QByteArrayView bytes);
    // Text in double quotes with \\, \" and control characters escaped, so that it stays on its line.
    static QString quoted(const QString &text);
    // A line's leading time stamp for now: 2026-12-07T16:05:25.123Z.
    static QByteArray timestamp();

private:
    void write(QByteArray line);
    void writeOut(const QByteArray &lines);
    void close();
    QByteArray stamp();

    std::FILE *m_stream = nullptr;
    bool m_ownsStream = false;
    QString m_path;
    QByteArray m_link = "-";
    int m_holds = 0;
    std::unique_ptr<QObject> m_waitWatch; // writes the collected lines when the event loop waits
    QByteArray m_pending;   // lines collected while held
    QByteArray m_heldStamp; // the time stamp of the lines held, taken once
};
