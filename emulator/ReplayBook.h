#pragma once

#include "Faults.h"
#include "ReplayRecording.h"
#include "Trace.h"

#include <QString>

#include <memory>
#include <set>

// What kestra-emu --replay shares between its links: the journal's two cursors (TCP and the
// pseudo-terminal), which recorded commands matched or diverged, and where differences are told
// (standard error and the trace).
class ReplayBook
{
public:
    explicit ReplayBook(QString path, TraceLog *trace);

    // Reads the whole journal once; false with FILE:LINE: reason when it cannot be replayed.
    bool check(QString *error);

    ReplayCursor &cursor(ReplayGroup group) { return group == ReplayGroup::Tcp ? m_tcp : m_pty; }
    // A device with no faults, for the frames the recording does not know.
    FaultPolicy &noFaults() { return m_noFaults; }

    void reached(ReplayGroup group, int command) { m_reached.insert(key(group, command)); }
    // Tells a difference on standard error and in the trace; the command no longer matches.
    void diverged(ReplayGroup group, int command, const QString &link, const QString &text);

    // "replay FILE: 12 commands matched, 1 diverged, 0 not replayed", and 0 when every recorded
    // command came and matched, otherwise 1.
    QString summary() const;
    int exitStatus() const;

private:
    int key(ReplayGroup group, int command) const { return group == ReplayGroup::Tcp ? command : -command; }
    int notReplayed() const;

    QString m_path;
    TraceLog *m_trace;
    ReplayCursor m_tcp;
    ReplayCursor m_pty;
    ReplayTotals m_totals;
    FaultPolicy m_noFaults;
    std::set<int> m_reached;  // by key(): TCP commands positive, the pseudo-terminal's negative
    std::set<int> m_diverged;
    int m_unrecorded = 0;     // frames that came after the recording ran out
};
