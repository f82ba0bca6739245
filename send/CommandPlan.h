#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// What kestra-send will send, worked out completely before the link opens, so that a mistake
// anywhere in a command line or a script ends the run before the first byte goes out.

// The values a command takes when it does not name its own (--timeout, --dsr / --no-dsr).
struct CommandDefaults
{
    qint32 timeoutMs = 30000;
    bool dsr = true;
};

// One device command. A named operation of several commands (write, sample) becomes several,
// which share their group. A script's "reopen" is a step of its own too: no command, but the link
// closed and opened again, where a recorded journal began a new session.
struct PlannedCommand
{
    int line = 0;        // the script's line; 0 on the command line
    int group = 0;       // the operation it belongs to, counted from 1
    QString operation;   // "read", "write", ..., "code" for a free command, "reopen"
    bool reopen = false; // no device command: the link is closed (if open) and opened again
    int step = 1;        // its place in the operation, from 1
    int steps = 1;       // the operation's number of commands
    quint8 code = 0;
    QByteArray parameter;
    qint32 timeoutMs = 0;
    bool dsr = true;
    bool needsStepBefore = false; // skipped when the command before in its group did not complete
};

struct CommandPlan
{
    QList<PlannedCommand> commands;
    QString error; // empty when every command could be planned
    bool ok() const { return error.isEmpty(); }
};

// A command code as typed: one or two hexadecimal digits, optionally after "0x" (00 to FF).
std::optional<quint8> readCommandCode(const QString &text);
// A time-out in milliseconds: 0 (no limit) to 2147483647.
std::optional<qint32> readTimeoutMs(const QString &text);

// Adds the commands of a named operation ("read", "write" with text, ...); an error names the
// problem (an unknown name, a character CP932 lacks).
QString planOperation(const QString &name, const QString &text, const CommandDefaults &defaults, int line,
                      int group, QList<PlannedCommand> &into);

// Adds a free command: code, parameter text (CP932) or BIN text ("$hh" escapes), time-out, DSR.
struct FreeCommand
{
    QString code;
    std::optional<QString> param;
    std::optional<QString> bin;
};
QString planFreeCommand(const FreeCommand &command, const CommandDefaults &settings, int line, int group,
                        QList<PlannedCommand> &into);

// Named operations given as words, in order: "read", "write", TEXT, "eject", ...
CommandPlan planOperationWords(const QStringList &words, const CommandDefaults &defaults);

// The names of the operations for messages: "read, eject, clear, reset, erase, write TEXT, sample".
QString operationNames();
