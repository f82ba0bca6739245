#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// One line of a link journal (docs/journal.md), cut into its parts without copying:
//   <time> <link> <in|out> <kind> <hex bytes> |<printable>|
//   <time> <link> -- <event> <text>
// The views point into the line they were read from and live as long as it does.
struct JournalLine
{
    enum class Direction { In, Out, Event };

    qint64 msecs = 0;        // the time, milliseconds since 1970 (UTC)
    QByteArrayView time;     // as written
    QByteArrayView link;     // "tcp", "com1", "-"
    Direction direction = Direction::Event;
    QByteArrayView kind;     // "command", "ACK", ... or the event: "open", "end", ...
    QByteArrayView rest;     // byte lines: "02 00 01 22 03 20 |..."..|"; events: the text
    bool isBytes() const { return direction != Direction::Event; }
};

// Cuts a line (without its newline) into its parts and checks them: the time's form, a known
// direction and kind, and on a byte line hexadecimal bytes that the printable part repeats. On a
// byte line the bytes go into *bytes (which keeps its capacity from line to line). False with the
// reason when the line is not a journal line.
bool parseJournalLine(QByteArrayView text, JournalLine *line, QByteArray *bytes, QByteArray *reason);

// "02 00 01 |...|" or "(none)" (the notation of command parameters and end data) into bytes.
bool decodeHexAndText(QByteArrayView text, QByteArray *bytes);

// The parts of "-- command code 22, time-out 30000 ms, DSR check on, parameter 32 |2|".
struct CommandEvent
{
    quint8 code = 0;
    qint32 timeoutMs = 0;
    bool dsr = true;
    QByteArray parameter;
};
bool parseCommandEvent(QByteArrayView text, CommandEvent *command, QByteArray *reason);

// The parts of "-- end code 22, error 0 (...), status 20 (...), result 0, 63 ms, data ...".
struct EndEvent
{
    quint8 code = 0;
    qint32 error = 0;
    QByteArrayView errorMeaning;
    int status = -1; // -1 when no response came
    QByteArrayView statusMeaning;
    int result = 0;
    qint64 elapsedMs = 0;
};
bool parseEndEvent(QByteArrayView text, EndEvent *end, QByteArray *reason);

// The event kinds a journal holds.
bool isKnownEvent(QByteArrayView kind);
