#pragma once

#include "JournalReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A journal read as the device's side of the sessions it records, for kestra-emu --replay.
// The journal's out lines are what the device received, its in lines what it sent. The TCP
// connections replay the journal's "tcp" links, the pseudo-terminal its "com1"..."com9" links.
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
    QList<Step> steps;
};

// Reads one group's segments in order, on demand, so that the journal is never held whole.
class ReplayCursor
{
public:
    ReplayCursor(QString path, ReplayGroup group) : m_path(std::move(path)), m_group(group) {}

    // The next recorded frame and what followed it; false at the end of the recording.
    bool next(ReplaySegment *segment);
    const QString &path() const { return m_path; }

private:
    bool readLine();
    bool inGroup(QByteArrayView link) const;

    QString m_path;
    ReplayGroup m_group;
    JournalReader m_reader{JournalReader::Mode::Strict};
    bool m_opened = false;
    bool m_ended = false;
    bool m_haveLine = false; // m_line is a frame line read ahead
    JournalLine m_line;
    QByteArray m_frame;
    int m_commands = 0;
};

// Reads the whole journal once, strictly, before the device starts: a damaged journal is told
// as FILE:LINE: reason. Counts the recorded commands that put a frame on the wire, per group.
struct ReplayTotals
{
    int tcpCommands = 0;
    int ptyCommands = 0;
};
bool checkReplayJournal(const QString &path, ReplayTotals *totals, QString *error);
