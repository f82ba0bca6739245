#pragma once

#include "JournalLine.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <vector>

// A journal's sessions: one program's one link, from its open (or failed open) to its close or
// loss. Several programs may append to one journal, even at once; each line names its session
// (JournalFormat.h), so their lines stay apart. A journal from before lines named their session
// is told apart by link: an open starts a new session on its link.
//
// Sessions are numbered from 1 in the order they begin in the file; every pass over the same
// file numbers them alike, so a number picked from a listing names the same lines later.
class SessionTracker
{
public:
    // The session number of this line.
    int assign(const JournalLine &line);
    int count() const { return m_count; }

private:
    std::map<QByteArray, int> m_current; // session token (or "link " + name) -> its number now
    int m_count = 0;
};

struct SessionInfo
{
    enum class Ending { Open, Closed, Lost, Failed };

    int number = 0;
    QByteArray token;   // "s4242.1"; empty in a journal from before sessions were named
    QByteArray link;    // "com1", "tcp", ...
    QByteArray what;    // the open's (or failed open's) text: "127.0.0.1 port 10001"
    qint64 firstMs = 0, lastMs = 0;
    qint64 firstLine = 0, lastLine = 0;
    qint64 commands = 0; // command events
    Ending ending = Ending::Open;
    bool opened = false; // an open line began it

    QString describe() const;
};

// Every session of a journal, from one pass over it. Bounded: past kMaxSessions the journal is
// refused as one no person could pick from.
class SessionTable
{
public:
    static constexpr int kMaxSessions = 100000;

    // False when the journal holds more sessions than kMaxSessions.
    bool add(const JournalLine &line, qint64 lineNumber);
    const std::vector<SessionInfo> &sessions() const { return m_sessions; }

private:
    std::vector<SessionInfo> m_sessions;
};

// Which sessions a script or a replay takes: those of one link (--link), one session
// (--session), or, when neither is named, all of them, provided they are one link's sessions one
// after the other. A choice that would merge sessions that overlap (two programs at once) or
// that ran on different links is refused, with a message that lists the sessions there are.
struct SessionChoice
{
    QByteArray link; // empty: any
    int session = 0; // 0: any
};
bool chooseSessions(const std::vector<SessionInfo> &sessions, const SessionChoice &choice, std::vector<bool> *chosen,
                    QString *error);
// "  session 2: tcp 127.0.0.1 port 10001, lines 14-80, 2026-12-07T16:38:23.939Z to ..., 12 commands, lost"
QString listSessions(const std::vector<SessionInfo> &sessions);
