#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include "protocol/Protocol.h"

// The device's wire framing, used in both directions:
//   STX LEN_HI LEN_LO BODY ETX BCC
// LEN counts the BODY bytes (1 to 65535, big-endian); BCC is the XOR of LEN_HI through ETX.
// ACK and NAK travel as single bytes between frames.

// BCC over LEN_HI..ETX of a frame whose body is given.
char frameChecksum(QByteArrayView body);

// A whole frame around body (1 to Wire::kMaxBody bytes; a longer body is cut to that size).
QByteArray encodeFrame(QByteArrayView body);

// Cuts frames, ACKs and NAKs out of a byte stream that arrives in arbitrary pieces. Bytes
// outside a frame other than STX, ACK and NAK are skipped. A frame whose ETX or BCC is wrong, or
// whose LEN is 0, comes out as BadFrame so that the receiver can answer NAK. Memory is bounded
// by one frame: LEN cannot promise more than 65535 bytes.
class FrameReader
{
public:
    // Stray: a run of bytes skipped outside a frame, reported only when asked for (a record of
    // the line wants them; a receiver has no use for them).
    enum class Kind { Frame, BadFrame, Ack, Nak, Stray };
    struct Item
    {
        Kind kind;
        QByteArray body; // Frame: the body; BadFrame and Stray: the bytes as they came
    };

    QList<Item> feed(QByteArrayView bytes);
    void setReportStray(bool on) { m_reportStray = on; }

    // True while a frame has started but not all of its bytes have arrived.
    bool inFrame() const { return m_state != State::Hunting; }
    // Bytes of memory held for the frame in progress; never more than one frame's worth.
    qsizetype heldBytes() const { return m_rest.capacity(); }
    void reset();

private:
    enum class State { Hunting, LenHi, LenLo, Rest };
    QByteArray rawFrame() const; // the frame in progress as it came
    State m_state = State::Hunting;
    int m_length = 0;
    QByteArray m_rest; // BODY ETX BCC as it arrives
    bool m_reportStray = false;
};
