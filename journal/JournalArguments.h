#pragma once

#include "JournalSessions.h"

#include <QString>
#include <QStringList>

// kestra-journal's command line, read whole before anything is opened.
struct JournalArguments
{
    enum class Action { Help, Version, Summary, Script, Pcapng, Redact, UsageError };

    Action action = Action::UsageError;
    QString file;
    QString output;        // -o; empty: standard output
    bool json = false;
    SessionChoice choice;  // --link, --session (script)
    QString error;         // with UsageError: what is wrong
};

// arguments without the program's name.
JournalArguments readJournalArguments(const QStringList &arguments);
