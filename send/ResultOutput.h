#pragma once

#include "CommandPlan.h"
#include "LinkSession.h"

#include <QByteArray>

// The line kestra-send prints for a command: for people, or a JSON object on one line (--json).
// Both end in a newline.
QByteArray resultLine(const PlannedCommand &command, const CommandOutcome &outcome);
QByteArray resultJson(const PlannedCommand &command, const CommandOutcome &outcome);
