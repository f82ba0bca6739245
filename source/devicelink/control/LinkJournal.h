#pragma once

#include "JournalFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>
#include <memory>

class QObject;

// An append-only, line-oriented record of a link: opens, closes and failures, every command with
// every frame that went out and came in, and how each command ended, one event per line in the
// journal's format (JournalFormat.h, docs/journal.md). Each line names its session: this
// program's link from its open to its close or loss, so that sessions that several programs
// append to one journal stay apart.
//
// Lines reach the file before the program next waits for anything, so nothing is lost when it is
// killed: the lines of one step of the link (a response, its ACK and the command's end, say) are
// collected and written together when the event loop is about to wait, after the bytes
// themselves have gone out, so that writing the journal does not hold up the device. Without an
// event loop, and for opens, closes and failures, lines are written at once. When a write fails
// (a full disk), the journal says so once on standard error and stops; the program goes on.
class LinkJournal
{
public:
    using Direction = Journal::Direction;

    LinkJournal() = default;
    ~LinkJournal();
    LinkJournal(const LinkJournal &) = delete;
    LinkJournal &operator=(const LinkJournal &) = delete;

    // Appends to path ("-" is standard error). False with the system's reason when it cannot.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_stream != nullptr; }
    QString path() const { return m_path; }

    // A new session begins, on the link with this name ("com1", "tcp"): every OpenLink is one.
    void beginSession(const QString &name);

    // Every line goes out with its card data replaced (docs/journal.md), for sites where card
    // data must never reach the disk.
    void setRedacting(bool on) { m_redacting = on; }

    // Between hold() and the matching release() lines are collected; the last release() writes
    // them. Holds nest.
    void hold() { ++m_holds; }
    void release();

    void bytes(Direction direction, Journal::Kind kind, QByteArrayView bytes);
    void event(Journal::Kind kind, const QString &text);
    // Writes whatever is collected now.
    void flush();

private:
    void write(QByteArray line);
    void writeOut(const QByteArray &lines);
    void close();
    QByteArray stamp();
    QByteArray sessionNow();

    std::FILE *m_stream = nullptr;
    bool m_ownsStream = false;
    QString m_path;
    QByteArray m_link = Journal::kNoLink.toByteArray();
    QByteArray m_session;   // this program's sessions: "s<pid>.0" before its first link
    int m_sessions = 0;
    bool m_redacting = false;
    int m_holds = 0;
    std::unique_ptr<QObject> m_waitWatch; // writes the collected lines when the event loop waits
    QByteArray m_pending;   // lines collected while held
    QByteArray m_heldStamp; // the time stamp of the lines held, taken once
};
