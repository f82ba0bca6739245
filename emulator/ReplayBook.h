#pragma once

#include "Faults.h"
#include "ReplayRecording.h"
#include "Trace.h"

#include <QString>

#include <memory>
#include <set>

// What kestra-emu --replay shares between its links: the chosen sessions of the journal and
// their cursors (TCP and the pseudo-terminal; only the chosen link's has anything), which
// recorded commands matched or diverged, and where differences are told (standard error and
// the trace).
class ReplayBook
{
public:
    ReplayBook(QString path, SessionChoice choice, TraceLog *trace);

    // Reads the whole journal once and chooses its sessions as kestra-journal script does. False
    // with FILE:LINE: reason when the journal cannot be replayed, or with the choice's refusal
    // and the sessions there are (then refused()).
    bool check(QString *error);
    bool refused() const { return m_refused; }
    // The link of the chosen sessions ("tcp", "com1", ...); empty when none sent a command.
    const QByteArray &link() const { return m_plan.link; }
    ReplayGroup group() const { return m_plan.group; }

    ReplayCursor &cursor(ReplayGroup group) { return group == ReplayGroup::Tcp ? m_tcp : m_pty; }
    // No recorded frame is left to come on the chosen link.
    bool exhausted() { return !cursor(m_plan.group).hasNext(); }
    // A device with no faults, for the frames the recording does not know.
    FaultPolicy &noFaults() { return m_noFaults; }

    void reached(ReplayGroup group, int command) { m_reached.insert(key(group, command)); }
    // Tells a difference on standard error and in the trace; the command no longer matches.
    // Command 0: a frame the recording does not have.
    void diverged(ReplayGroup group, int command, const QString &link, const QString &text);

    // "replay FILE: 12 commands matched, 1 diverged, 0 not replayed", and 0 when every recorded
    // command came and matched, otherwise 1.
    QString summary() const;
    int exitStatus() const;

private:
    int key(ReplayGroup group, int command) const { return group == ReplayGroup::Tcp ? command : -command; }
    int notReplayed() const;

    QString m_path;
    SessionChoice m_choice;
    TraceLog *m_trace;
    ReplayPlan m_plan;
    bool m_refused = false;
    ReplayCursor m_tcp;
    ReplayCursor m_pty;
    FaultPolicy m_noFaults;
    std::set<int> m_reached;  // by key(): TCP commands positive, the pseudo-terminal's negative
    std::set<int> m_diverged;
    int m_unrecorded = 0;     // frames that the recording does not have
};
