#pragma once

#include "JournalFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// One line of a link journal cut into its parts without copying (JournalFormat.h). The views
// point into the line they were read from and live as long as it does.
struct JournalLine
{
    using Direction = Journal::Direction;

    qint64 msecs = 0;        // the time, milliseconds since 1970 (UTC)
    QByteArrayView time;     // as written
    QByteArrayView link;     // "tcp", "com1", "-"
    QByteArrayView session;  // "s4242.1"; empty on a line from before sessions were written
    Direction direction = Direction::Event;
    Journal::Kind kind = Journal::Kind::Open;
    QByteArrayView word;     // the kind as written: "command", "ACK", ... or "open", "end", ...
    QByteArrayView rest;     // byte lines: "02 00 01 22 03 20 |..."..|"; events: the text
    int sessionNumber = 0;   // which session of the journal, from 1 (JournalReader counts them)
    QByteArrayView raw;      // the whole line as read, without its newline
    bool isBytes() const { return direction != Direction::Event; }
};

// Cuts a line (without its newline) into its parts and checks them: the time's form, a known
// direction and kind, and on a byte line hexadecimal bytes that the printable part repeats. On a
// byte line the bytes go into *bytes (which keeps its capacity from line to line). False with the
// reason when the line is not a journal line.
bool parseJournalLine(QByteArrayView text, JournalLine *line, QByteArray *bytes, QByteArray *reason);
