#include "JournalRedaction.h"

#include "JournalEvents.h"
#include "JournalFormat.h"
#include "JournalLine.h"
#include "protocol/Frame.h"

namespace Journal {

namespace {

bool isTrackMark(char c)
{
    return c == '%' || c == ';' || c == '?' || c == '=' || c == '^';
}

// Card data: every byte but the track's sentinels and separators, which tell where a track
// starts, ends and splits, and hold nothing of the card holder's.
void maskData(QByteArray &bytes, qsizetype from, qsizetype to)
{
    char *p = bytes.data();
    for (qsizetype i = from; i < to; ++i) {
        if (!isTrackMark(p[i]))
            p[i] = kPlaceholder;
    }
}

// Bytes outside any frame: control bytes stay too, so that a replay of the line frames, hunts and
// hands over ACK and NAK as the line did.
void maskLoose(QByteArray &bytes, qsizetype from)
{
    char *p = bytes.data();
    for (qsizetype i = from; i < bytes.size(); ++i) {
        if (uchar(p[i]) >= 0x20 && !isTrackMark(p[i]))
            p[i] = kPlaceholder;
    }
}

// A frame's body from keep on. The checksum changes by what the body's checksum changes by: a
// sound frame stays sound, a damaged one stays wrong by the same XOR. ETX and LEN stay as they
// came, and so does a frame of length 0 (nothing follows its LEN).
QByteArray redactFrame(QByteArrayView frame, qsizetype keep)
{
    QByteArray out = frame.toByteArray();
    if (out.size() < 3 || out.at(0) != Wire::STX) {
        maskLoose(out, 0);
        return out;
    }
    const qsizetype length = (qsizetype(uchar(out.at(1))) << 8) | uchar(out.at(2));
    if (length == 0) {
        maskLoose(out, 3);
        return out;
    }
    const qsizetype etx = 3 + length;
    if (out.size() < etx + 2) {
        // Cut short: no checksum to keep in step.
        maskData(out, qMin(3 + keep, out.size()), qMin(etx, out.size()));
        maskLoose(out, etx);
        return out;
    }
    const char before = frameChecksum(frame.sliced(3, length));
    maskData(out, 3 + keep, etx);
    const char after = frameChecksum(QByteArrayView(out).sliced(3, length));
    out[etx + 1] = char(out.at(etx + 1) ^ before ^ after);
    maskLoose(out, etx + 2);
    return out;
}

QByteArray redactBytes(Kind kind, QByteArrayView bytes)
{
    switch (kind) {
    case Kind::CommandFrame: // the code stays
    case Kind::Response:     // the status stays
    case Kind::LateFrame:
        return redactFrame(bytes, 1);
    case Kind::BadFrame: // damaged: even its first byte may be data
        return redactFrame(bytes, 0);
    case Kind::Stray:
    case Kind::Dropped: {
        QByteArray out = bytes.toByteArray();
        maskLoose(out, 0);
        return out;
    }
    default:
        return bytes.toByteArray();
    }
}

// An event text that its kind's reader does not take: nothing in it can be told apart from card
// data, so all of it goes.
QByteArray maskedText(QByteArrayView text)
{
    QByteArray out = text.toByteArray();
    maskData(out, 0, out.size());
    return out;
}

QByteArray redactEventText(Kind kind, QByteArrayView text)
{
    if (kind == Kind::Command) {
        CommandEvent command;
        if (!parseCommandEvent(text, &command, nullptr))
            return maskedText(text);
        maskData(command.parameter, 0, command.parameter.size());
        return commandText(command).toUtf8();
    }
    if (kind == Kind::End) {
        EndEvent end;
        if (!parseEndEvent(text, &end, nullptr))
            return maskedText(text);
        // The text follows from the data, so it is made again from what is left of it.
        maskData(end.data, 0, end.data.size());
        return endText(end).toUtf8();
    }
    return text.toByteArray();
}

} // namespace

QByteArray redactLine(QByteArrayView text)
{
    JournalLine line;
    QByteArray bytes;
    if (!parseJournalLine(text, &line, &bytes, nullptr))
        return text.toByteArray();
    if (line.isBytes()) {
        if (line.kind == Kind::Ack || line.kind == Kind::Nak)
            return text.toByteArray();
        return bytesLine(line.time, line.link, line.session, line.direction, line.kind, redactBytes(line.kind, bytes));
    }
    if (line.kind != Kind::Command && line.kind != Kind::End)
        return text.toByteArray();
    return eventLine(line.time, line.link, line.session, line.kind, redactEventText(line.kind, line.rest));
}

} // namespace Journal
