#pragma once

#include "JournalEvents.h"
#include "JournalReader.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// Turns a journal into a kestra-send script: every command the control took, in order, as
// "code HEX [--param TEXT | --bin TEXT] --timeout MS --dsr|--no-dsr", each after a comment with
// the journal line of its outcome. Lines go to write() as they are made, so a journal of any
// size streams through. False with "FILE:LINE: reason" at the first line that cannot be read.
// chosen[n] tells whether session n is taken (JournalSessions.h: chooseSessions).
bool writeScript(JournalReader &reader, const std::vector<bool> &chosen,
                 const std::function<void(const QByteArray &)> &write, QString *error);

// One command's line of the script (without the newline), e.g. code 41 --param '1, 0, 0,Hello'
// --timeout 5000 --dsr
QByteArray scriptCommandLine(const Journal::CommandEvent &command);
