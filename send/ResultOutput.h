#pragma once

#include "CommandPlan.h"
#include "LinkSession.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The line kestra-send prints for a command: for people, or a JSON object on one line (--json).
// Both end in a newline.
QByteArray resultLine(const PlannedCommand &command, const CommandOutcome &outcome);
QByteArray resultJson(const PlannedCommand &command, const CommandOutcome &outcome);

// The line of a skipped command, for people or as JSON (with "skipped": true and "result": null).
QByteArray skippedLine(const PlannedCommand &command, const QString &reason);
QByteArray skippedJson(const PlannedCommand &command, const QString &reason);
// "write 2/3", "code 41": a command as the lines and the journal name it (CardOperations::stepName).
QString commandName(const PlannedCommand &command);

// With --json, a link that does not open: one object with the link, the OpenLink result (null
// when OpenLink was not reached, e.g. a host name that does not resolve), its meaning and the
// system's reason.
QByteArray openFailureJson(const QString &link, std::optional<qint32> openResult, const QString &reason);

// A script's reopen: "line 9 reopen: 127.0.0.1 port 10001, opened", or "..., did not open
// (OpenLink result 3: ...)"; in JSON {"line": 9, "reopen": true, "link": ..., "opened": ...,
// "open_result": ..., "open_result_meaning": ..., "reason": ...}, the last three as in the object
// of a link that does not open (null when it opened).
QByteArray reopenLine(const PlannedCommand &reopen, const QString &link, bool opened, std::optional<qint32> openResult);
QByteArray reopenJson(const PlannedCommand &reopen, const QString &link, bool opened, std::optional<qint32> openResult,
                      const QString &reason);
