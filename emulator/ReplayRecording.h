#pragma once

#include "JournalReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// A journal read as the device's side of the sessions it records, for kestra-emu --replay.
// The journal's out lines are what the device received, its in lines what it sent. Only the
// chosen sessions replay (SessionChoice, as kestra-journal script takes them), all of one link:
// a "tcp" link on the TCP connections, "com1"..."com9" and "device" on the pseudo-terminal.
enum class ReplayGroup { Tcp, Pty };

// One command frame as the device received it, and everything the device did after it until
// the next frame: bytes sent, handshakes the control sent back, a hang-up.
struct ReplaySegment
{
    struct Step
    {
        enum class Kind { Send, Expect, HangUp };
        Kind kind;
        QByteArray bytes; // Send: the bytes; Expect: the ACK or NAK
        QByteArray what;  // the journal's kind ("response", "bad-frame", ...)
        qint64 atMs;      // the journal's time
        qint64 line;
    };
    QByteArray frame;
    qint64 frameMs = 0;
    qint64 frameLine = 0;
    int command = 0; // the recorded command it belongs to, from 1 (a resend shares its command's)
    int session = 0; // the journal's session it was recorded in
    QList<Step> steps;
};

// Reads one group's segments of the chosen sessions in order, on demand, so that the journal is
// never held whole.
class ReplayCursor
{
public:
    // chosen[n]: session n is replayed (index 0 unused); it outlives the cursor.
    ReplayCursor(QString path, ReplayGroup group, const std::vector<bool> *chosen)
        : m_path(std::move(path)), m_group(group), m_chosen(chosen)
    {
    }

    // The next recorded frame and what followed it; false at the end of the recording.
    bool next(ReplaySegment *segment);
    // Whether a recorded frame is still to come.
    bool hasNext();
    // Passes over what is left of the session the last segment belongs to: a new connection is
    // the recording's next session.
    void skipRestOfSession();
    const QString &path() const { return m_path; }

private:
    bool readLine();
    bool findFrame();
    bool taken(const JournalLine &line) const;

    QString m_path;
    ReplayGroup m_group;
    const std::vector<bool> *m_chosen;
    JournalReader m_reader{JournalReader::Mode::Strict};
    bool m_opened = false;
    bool m_ended = false;
    bool m_haveLine = false; // m_line is a frame line read ahead
    JournalLine m_line;
    int m_commands = 0;
    int m_lastSession = 0; // the session of the last segment handed out
};

ReplayGroup replayGroupOf(QByteArrayView link, bool *known);

// The first pass over the whole journal, strictly, before the device starts: a damaged journal
// is told as FILE:LINE: reason; then the sessions are chosen, and the recorded commands that put
// a frame on the wire in the chosen sessions are counted.
struct ReplayPlan
{
    std::vector<bool> chosen;
    ReplayGroup group = ReplayGroup::Tcp;
    QByteArray link;  // the chosen sessions' link; empty when none sent a command
    int commands = 0;
};
enum class ReplayCheck { Ready, Unreadable, Refused };
ReplayCheck checkReplayJournal(const QString &path, const SessionChoice &choice, ReplayPlan *plan, QString *error);
