#pragma once

#include "SoakRun.h"
#include "SoakTrace.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

// Holds every command's outcome against what the trace says the device did to it.
struct SoakVerdict
{
    int commands = 0;
    QMap<QString, int> faults;   // the fault of each command's last frame, by name ("late" without MS)
    QMap<QString, int> outcomes; // by ErrorCode ("0", "107", ...; "refused N" for SendCommand)
    QMap<QString, QMap<QString, int>> table; // fault -> outcome -> commands
    int tooSlow = 0;             // ended later than time-out + slack
    int disallowed = 0;          // an ErrorCode the command's faults do not allow
    int misattributed = 0;       // ErrorCode 0 with another command's identity
    int ambiguous = 0;           // of the mismatches, those after a timed-out command whose answer was on the line
    QStringList cases;           // one line per mismatch (the first few)

    bool passed() const { return tooSlow == 0 && disallowed == 0 && misattributed == 0; }
};

SoakVerdict checkSoak(const std::vector<CommandRecord> &records, const SoakTrace &trace, int timeoutMs,
                      int slackMs, int maxCases);
