// Bytes from a peer, cut into arbitrary pieces, fed to the frame reader as a serial port or a
// socket would deliver them.
//
// Input layout: the low four bits of the first byte say how many of the following bytes give the
// piece lengths (used in turn, 0 meaning an empty read); the rest is the byte stream.
#include "protocol/Frame.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

using Item = FrameReader::Item;
using Kind = FrameReader::Kind;

bool sameItems(const QList<Item> &a, const QList<Item> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].body != b[i].body)
            return false;
    }
    return true;
}

// A plain reading of the framing rules over a whole stream, written independently of the
// reader's state machine: what a correct reader must produce. pending is set when the stream
// ends inside a frame.
QList<Item> referenceDecode(QByteArrayView s, bool &pending)
{
    QList<Item> items;
    pending = false;
    qsizetype i = 0;
    const auto byteAt = [&](qsizetype k) { return quint8(s[k]); };
    while (i < s.size()) {
        const char b = s[i];
        if (b == Wire::ACK) {
            items.append({Kind::Ack, {}});
            ++i;
        } else if (b == Wire::NAK) {
            items.append({Kind::Nak, {}});
            ++i;
        } else if (b != Wire::STX) {
            ++i;
        } else {
            if (i + 3 > s.size()) {
                pending = true;
                break;
            }
            const int length = (byteAt(i + 1) << 8) | byteAt(i + 2);
            if (length == 0) {
                items.append({Kind::BadFrame, s.sliced(i, 3).toByteArray()});
                i += 3;
                continue;
            }
            if (i + 3 + length + 2 > s.size()) {
                pending = true;
                break;
            }
            const QByteArrayView body = s.sliced(i + 3, length);
            quint8 bcc = quint8(length >> 8) ^ quint8(length & 0xFF);
            for (char c : body)
                bcc ^= quint8(c);
            bcc ^= quint8(Wire::ETX);
            const bool sound = s[i + 3 + length] == Wire::ETX && byteAt(i + 4 + length) == bcc;
            items.append(sound ? Item{Kind::Frame, body.toByteArray()} : Item{Kind::BadFrame, s.sliced(i, 5 + length).toByteArray()});
            i += 5 + length;
        }
    }
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t cutCount = std::min<std::size_t>(data[0] & 0x0F, size - 1);
    const std::uint8_t *cuts = data + 1;
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1 + cutCount),
                                qsizetype(size - 1 - cutCount));

    // In pieces.
    FrameReader reader;
    QList<Item> pieced;
    qsizetype pos = 0;
    std::size_t nextCut = 0;
    while (pos < stream.size()) {
        qsizetype piece = stream.size() - pos;
        if (cutCount > 0) {
            const std::uint8_t cut = cuts[nextCut++ % cutCount];
            if (cut == 0)
                pieced += reader.feed(QByteArrayView()); // an empty read changes nothing
            piece = qMin<qsizetype>(piece, qMax<qsizetype>(1, cut));
        }
        pieced += reader.feed(stream.sliced(pos, piece));
        pos += piece;
        // One frame at most is ever held: LEN cannot promise more than the largest body.
        FUZZ_CHECK(reader.heldBytes() <= Wire::kMaxBody + 2 + 16);
    }

    // All at once: the pieces must not matter.
    FrameReader whole;
    const QList<Item> atOnce = whole.feed(stream);
    FUZZ_CHECK(sameItems(pieced, atOnce));
    FUZZ_CHECK(reader.inFrame() == whole.inFrame());

    // What the framing rules say.
    bool pending = false;
    FUZZ_CHECK(sameItems(atOnce, referenceDecode(stream, pending)));
    FUZZ_CHECK(whole.inFrame() == pending);

    // Every frame's body goes out again as a frame that reads back the same.
    for (const Item &item : atOnce) {
        if (item.kind == Kind::BadFrame) {
            // A damaged frame comes with its bytes as they came: STX and LEN at least.
            FUZZ_CHECK(item.body.size() >= 3 && item.body.at(0) == Wire::STX);
            continue;
        }
        if (item.kind != Kind::Frame) {
            FUZZ_CHECK(item.body.isEmpty());
            continue;
        }
        FUZZ_CHECK(item.body.size() >= 1 && item.body.size() <= Wire::kMaxBody);
        const QByteArray again = encodeFrame(item.body);
        FUZZ_CHECK(again.size() == item.body.size() + Wire::kOverhead);
        FrameReader echo;
        const QList<Item> back = echo.feed(again);
        FUZZ_CHECK(back.size() == 1 && back[0].kind == Kind::Frame && back[0].body == item.body);
        FUZZ_CHECK(!echo.inFrame());
    }

    // After a reset the reader starts clean.
    reader.reset();
    FUZZ_CHECK(!reader.inFrame() && reader.heldBytes() == 0);
    return 0;
}
