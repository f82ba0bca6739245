#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// The link journal's line format, for every program that writes a journal and every tool that
// reads one (docs/journal.md):
//
//   <time> <link> <session> <in|out> <kind> <hex bytes> |<printable>|
//   <time> <link> <session> -- <event> <text>
//
// Journals written before lines carried their session have no <session> word; they are read
// all the same (the reader tells sessions apart by their opens and ends).
namespace Journal {

enum class Direction { In, Out, Event };

// Every kind of line. A new kind is one entry here, one in kLineKinds, and its words.
enum class Kind : quint8 {
    // bytes on the line
    CommandFrame, // out: the command frame; again after a NAK
    Ack,          // in and out
    Nak,          // in and out
    Response,     // in: the sound frame that answers the running command
    LateFrame,    // in: a sound frame that answers no running command
    BadFrame,     // in: a damaged frame, as it came
    Stray,        // in: bytes outside any frame
    Dropped,      // in: bytes read while the line settles
    // events
    Open,
    OpenFailed,
    Close,
    Lost,
    Command,
    Resend,
    Settle,
    Refused,
    End,
    Skipped,
    Stopped,
    Server, // a device server's signature
    Modem,  // a device server's report of DSR
};

struct KindInfo
{
    Kind kind;
    const char *word;   // as the line writes it
    bool in;            // a byte line that comes in
    bool out;           // a byte line that goes out
    bool isBytes() const { return in || out; }
};

inline constexpr std::array kKinds{
    KindInfo{Kind::CommandFrame, "command", false, true},
    KindInfo{Kind::Ack, "ACK", true, true},
    KindInfo{Kind::Nak, "NAK", true, true},
    KindInfo{Kind::Response, "response", true, false},
    KindInfo{Kind::LateFrame, "late-frame", true, false},
    KindInfo{Kind::BadFrame, "bad-frame", true, false},
    KindInfo{Kind::Stray, "stray", true, false},
    KindInfo{Kind::Dropped, "dropped", true, false},
    KindInfo{Kind::Open, "open", false, false},
    KindInfo{Kind::OpenFailed, "open-failed", false, false},
    KindInfo{Kind::Close, "close", false, false},
    KindInfo{Kind::Lost, "lost", false, false},
    KindInfo{Kind::Command, "command", false, false},
    KindInfo{Kind::Resend, "resend", false, false},
    KindInfo{Kind::Settle, "settle", false, false},
    KindInfo{Kind::Refused, "refused", false, false},
    KindInfo{Kind::End, "end", false, false},
    KindInfo{Kind::Skipped, "skipped", false, false},
    KindInfo{Kind::Stopped, "stopped", false, false},
    KindInfo{Kind::Server, "server", false, false},
    KindInfo{Kind::Modem, "modem", false, false},
};

const KindInfo &info(Kind kind);
inline const char *word(Kind kind) { return info(kind).word; }
inline bool isBytes(Kind kind) { return info(kind).isBytes(); }
// The kind a line's direction and word name; nothing for a word this format does not have.
std::optional<Kind> kindOf(Direction direction, QByteArrayView word);

// --- time stamps: 2026-12-07T16:05:25.123Z (UTC, to the millisecond)
QByteArray currentTime();
QByteArray formatTime(qint64 msecsSinceEpoch);
bool parseTime(QByteArrayView text, qint64 *msecsSinceEpoch);

// --- link names: "com1" ... "com9", "tcp", "device" (a serial device named by its path), and
// "-" before any link
inline constexpr QByteArrayView kTcpLink = "tcp";
inline constexpr QByteArrayView kDeviceLink = "device";
inline constexpr QByteArrayView kNoLink = "-";
QByteArray serialLinkName(int port); // "com1"
bool isSerialLinkName(QByteArrayView name);
bool isKnownLinkName(QByteArrayView name);

// --- sessions: one program's one link, from its open (or failed open) to its close or loss.
// "s4242.3": the writing program's process id and its own count of links.
QByteArray sessionToken(qint64 processId, int link);
bool isSessionToken(QByteArrayView word);

// --- bytes: "02 00 01 22 03 20 |..."..|": lower-case hex, then the same bytes between bars with
// anything that is not printable ASCII as a dot; within an event's text "(none)" for no bytes.
QByteArray hexAndText(QByteArrayView bytes);
QByteArray bytesOrNone(QByteArrayView bytes);
// Either form back into bytes; false when the text is not exactly what hexAndText writes.
bool decodeHexAndText(QByteArrayView text, QByteArray *bytes);

// --- text: in double quotes with \\, \", \n, \r, \t and \xNN for other control characters.
QString quoted(const QString &text);
// Device bytes (CP932) as quoted text: a byte that is no character reads \xNN, as in
// kestra-send's output and the Wireshark dissector.
QString quotedDeviceText(const QByteArray &bytes);

// --- whole lines (without the newline)
QByteArray bytesLine(QByteArrayView time, QByteArrayView link, QByteArrayView session, Direction direction,
                     Kind kind, QByteArrayView bytes);
QByteArray eventLine(QByteArrayView time, QByteArrayView link, QByteArrayView session, Kind kind,
                     QByteArrayView text);

} // namespace Journal
