#pragma once

#include <QStringList>

// Exit statuses of kestra-journal.
namespace JournalExit {
constexpr int Done = 0;
constexpr int BadJournal = 1; // the journal (or the output) could not be read or written
constexpr int Usage = 2;
}

// The whole of kestra-journal behind main(): arguments without the program name; returns the
// exit status. Needs no application object.
int runJournal(const QStringList &arguments);
QString journalHelpText();
