// A device server's bytes, cut into arbitrary pieces, read by the Telnet codec and by the
// com-port client over it, as a socket would deliver them; then the data part sent back through
// an encoder to a second codec, which must read it back unchanged.
//
// Input layout: the low four bits of the first byte say how many of the following bytes give the
// piece lengths (used in turn, 0 meaning an empty read); bit 4 chooses BINARY for the way back;
// the rest is the server's byte stream.
#include "transport/ComPortControl.h"
#include "transport/TelnetCodec.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

using Event = TelnetCodec::Event;

bool sameEvents(const QList<Event> &a, const QList<Event> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].command != b[i].command || a[i].option != b[i].option
            || a[i].side != b[i].side || a[i].enabled != b[i].enabled || a[i].payload != b[i].payload)
            return false;
    }
    return true;
}

bool sameEvents(const QList<ComPortControl::Event> &a, const QList<ComPortControl::Event> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].setting != b[i].setting || a[i].value != b[i].value
            || a[i].wanted != b[i].wanted || a[i].text != b[i].text)
            return false;
    }
    return true;
}

TelnetCodec reader()
{
    TelnetCodec codec;
    for (const auto side : {TelnetCodec::Side::Us, TelnetCodec::Side::Him}) {
        codec.allow(side, Telnet::Binary);
        codec.allow(side, Telnet::SuppressGoAhead);
    }
    return codec;
}

// Generous: each answer is at most as long as what it answers, and the requests at open are
// a few dozen bytes.
bool outputBounded(qsizetype output, qsizetype input)
{
    return output <= 4 * input + 256;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t cutCount = std::min<std::size_t>(data[0] & 0x0F, size - 1);
    const bool binaryBack = (data[0] & 0x10) != 0;
    const std::uint8_t *cuts = data + 1;
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1 + cutCount), qsizetype(size - 1 - cutCount));

    // In pieces, through the codec and through the com-port client.
    TelnetCodec pieced = reader();
    ComPortControl port;
    port.open({9600, 8, ComPort::Parity::None, ComPort::StopBits::One});
    QByteArray piecedData;
    QList<Event> piecedEvents;
    QByteArray portData;
    QList<ComPortControl::Event> portEvents;
    qsizetype codecOutput = 0;
    qsizetype portOutput = 0;
    qsizetype pos = 0;
    std::size_t nextCut = 0;
    while (pos < stream.size()) {
        qsizetype piece = stream.size() - pos;
        if (cutCount > 0) {
            const std::uint8_t cut = cuts[nextCut++ % cutCount];
            if (cut == 0)
                FUZZ_CHECK(pieced.feed(QByteArrayView()).events.isEmpty()); // an empty read changes nothing
            piece = qMin<qsizetype>(piece, qMax<qsizetype>(1, cut));
        }
        const QByteArrayView bytes = stream.sliced(pos, piece);
        TelnetCodec::Decoded decoded = pieced.feed(bytes);
        piecedData += decoded.data;
        piecedEvents += decoded.events;
        ComPortControl::Decoded fromPort = port.feed(bytes);
        portData += fromPort.data;
        portEvents += fromPort.events;
        codecOutput += pieced.takeOutput().size();
        portOutput += port.takeOutput().size();
        pos += piece;
        // Only a subnegotiation in progress is held, never much more than its cap.
        FUZZ_CHECK(pieced.heldBytes() <= 2 * Telnet::kMaxSubnegotiation + 64);
        FUZZ_CHECK(port.telnet().heldBytes() <= 2 * Telnet::kMaxSubnegotiation + 64);
    }
    // Answers never outgrow what they answer: negotiation does not loop.
    FUZZ_CHECK(outputBounded(codecOutput, stream.size()));
    FUZZ_CHECK(outputBounded(portOutput, stream.size()));
    FUZZ_CHECK(piecedData.size() <= stream.size());

    // All at once: the pieces must not matter.
    TelnetCodec whole = reader();
    const TelnetCodec::Decoded atOnce = whole.feed(stream);
    FUZZ_CHECK(atOnce.data == piecedData);
    FUZZ_CHECK(sameEvents(atOnce.events, piecedEvents));
    ComPortControl wholePort;
    wholePort.open({9600, 8, ComPort::Parity::None, ComPort::StopBits::One});
    const ComPortControl::Decoded portAtOnce = wholePort.feed(stream);
    FUZZ_CHECK(portAtOnce.data == portData);
    FUZZ_CHECK(sameEvents(portAtOnce.events, portEvents));
    FUZZ_CHECK(wholePort.state() == port.state() && wholePort.failure() == port.failure());
    FUZZ_CHECK(wholePort.dsr() == port.dsr());
    FUZZ_CHECK((port.state() == ComPortControl::State::Failed) == !port.failure().isEmpty());

    // The data part back the other way, in either mode, reads back unchanged.
    TelnetCodec sender;
    TelnetCodec peer;
    peer.allow(TelnetCodec::Side::Him, Telnet::Binary);
    if (binaryBack) {
        sender.enable(TelnetCodec::Side::Us, Telnet::Binary);
        peer.feed(sender.takeOutput());
        sender.feed(peer.takeOutput());
        FUZZ_CHECK(sender.isEnabled(TelnetCodec::Side::Us, Telnet::Binary));
        FUZZ_CHECK(peer.isEnabled(TelnetCodec::Side::Him, Telnet::Binary));
    }
    sender.sendData(atOnce.data);
    const QByteArray wire = sender.takeOutput();
    const TelnetCodec::Decoded back = peer.feed(wire);
    FUZZ_CHECK(back.data == atOnce.data);
    FUZZ_CHECK(back.events.isEmpty());
    FUZZ_CHECK(!binaryBack || wire == TelnetCodec::escaped(atOnce.data));
    return 0;
}
