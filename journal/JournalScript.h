#pragma once

#include "JournalEvents.h"
#include "JournalReader.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>
#include <vector>

// Turns a journal into a kestra-send script: every command the control took in the chosen
// sessions, in order, as "code HEX [--param TEXT | --bin TEXT] --timeout MS --dsr|--no-dsr", each
// after a comment with the journal line of its outcome. chosen[n] says whether session n
// (JournalLine::sessionNumber) is taken; index 0 is unused and a session past its end is not taken
// (the caller's first pass: SessionTable, chooseSessions). Where a taken session opens after an
// earlier one, the script reopens the link; losses, closes, refusals, skipped commands and a
// stopped run are comments, since nothing was sent for them. Lines go to write() as they are
// made, so a journal of any size streams through. False with "FILE:LINE: reason" at the first
// line that cannot be read.
bool writeScript(JournalReader &reader, const std::vector<bool> &chosen, const std::function<void(const QByteArray &)> &write,
                 QString *error);

// One command's line of the script (without the newline), e.g. code 41 --param '1, 0, 0,Hello'
// --timeout 5000 --dsr
QByteArray scriptCommandLine(const Journal::CommandEvent &command);
