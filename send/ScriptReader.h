#pragma once

#include "CommandPlan.h"

#include <QString>
#include <QStringList>
#include <QStringView>

// kestra-send's scripts: one command per line, words split as a shell splits them.
//
//   read                                   a named operation
//   write "%ABC 123?"                      an operation with its TEXT
//   code 41 --param "1, 0, 0,Hello" --timeout 5000 --no-dsr
//   code 39 --bin '$02ABC$03'              BIN mode: "$hh" is one byte
//   reopen                                 close the link and open it again, same settings
//   # a comment; blank lines are skipped
//
// Words are separated by blanks. Single quotes keep everything up to the next single quote;
// double quotes keep everything up to the next unescaped double quote, and in them a backslash
// makes the next character literal (\" and \\). Outside quotes a backslash makes the next
// character literal too, and "#" starts a comment that runs to the end of the line.

struct SplitLine
{
    QStringList words;
    QString error; // empty when the line could be split
};
SplitLine splitWords(QStringView line);

// Plans a whole script. The first line that cannot be read gives "NAME:LINE: reason" as the
// plan's error, and then no command at all.
CommandPlan planScript(const QString &text, const QString &name, const CommandDefaults &defaults);
