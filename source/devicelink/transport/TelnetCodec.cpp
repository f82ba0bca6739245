#include "transport/TelnetCodec.h"

using namespace Telnet;

namespace {

// The side a negotiation command speaks of, and the pair of answers for it.
struct Verbs
{
    TelnetCodec::Side side;
    std::uint8_t yes; // what we send to agree (or ask) for that side
    std::uint8_t no;
};

Verbs verbsFor(std::uint8_t command)
{
    if (command == WILL || command == WONT)
        return {TelnetCodec::Side::Him, DO, DONT};
    return {TelnetCodec::Side::Us, WILL, WONT};
}

Verbs verbsFor(TelnetCodec::Side side)
{
    return side == TelnetCodec::Side::Him ? Verbs{side, DO, DONT} : Verbs{side, WILL, WONT};
}

} // namespace

QByteArray TelnetCodec::escaped(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size() + data.count(char(IAC)));
    for (char byte : data) {
        out.append(byte);
        if (quint8(byte) == IAC)
            out.append(char(IAC));
    }
    return out;
}

void TelnetCodec::sendData(QByteArrayView data)
{
    if (isEnabled(Side::Us, Binary)) {
        m_output += escaped(data);
        return;
    }
    // An NVT reads CR as the start of a pair: CR NUL is a CR alone. A CR LF sent as CR NUL LF
    // reads back as the same two bytes, so every CR can take its NUL without looking ahead.
    m_output.reserve(m_output.size() + data.size() + data.size() / 8);
    for (char byte : data) {
        m_output.append(byte);
        if (quint8(byte) == IAC)
            m_output.append(char(IAC));
        else if (quint8(byte) == CR)
            m_output.append(char(NUL));
    }
}

void TelnetCodec::sendCommand(std::uint8_t command)
{
    m_output.append(char(IAC));
    m_output.append(char(command));
}

void TelnetCodec::sendSubnegotiation(std::uint8_t option, QByteArrayView payload)
{
    m_output.append(char(IAC));
    m_output.append(char(SB));
    m_output.append(char(option));
    m_output += escaped(payload);
    m_output.append(char(IAC));
    m_output.append(char(SE));
}

void TelnetCodec::sendNegotiation(std::uint8_t command, std::uint8_t option)
{
    sendCommand(command);
    m_output.append(char(option));
}

void TelnetCodec::enable(Side side, std::uint8_t option)
{
    Entry &e = entry(side, option);
    e.allowed = true;
    switch (e.state) {
    case State::No:
        e.state = State::WantYes;
        sendNegotiation(verbsFor(side).yes, option);
        break;
    case State::Yes:
        break;
    case State::WantNo:
        // The refusal under way is answered first; the request follows it.
        e.opposite = true;
        break;
    case State::WantYes:
        e.opposite = false;
        break;
    }
}

void TelnetCodec::disable(Side side, std::uint8_t option)
{
    Entry &e = entry(side, option);
    e.allowed = false;
    switch (e.state) {
    case State::No:
        break;
    case State::Yes:
        e.state = State::WantNo;
        sendNegotiation(verbsFor(side).no, option);
        break;
    case State::WantNo:
        e.opposite = false;
        break;
    case State::WantYes:
        e.opposite = true;
        break;
    }
}

// RFC 1143's tables for a WILL/DO (yes) or WONT/DONT (no) from the server. An option is answered
// only when its state changes, so a repeated request or two requests that cross on the wire end
// without another round: this is what keeps two ends from looping.
void TelnetCodec::negotiate(std::uint8_t command, std::uint8_t option, Decoded &out)
{
    const Verbs verbs = verbsFor(command);
    const bool yes = command == WILL || command == DO;
    Entry &e = entry(verbs.side, option);
    out.events.append({Event::Kind::Negotiation, command, option, verbs.side, yes, {}});
    const auto settle = [&](State state) {
        e.state = state;
        e.opposite = false;
        out.events.append({Event::Kind::Settled, 0, option, verbs.side, state == State::Yes, {}});
    };
    if (yes) {
        switch (e.state) {
        case State::No:
            if (e.allowed) {
                settle(State::Yes);
                sendNegotiation(verbs.yes, option);
            } else {
                sendNegotiation(verbs.no, option);
            }
            break;
        case State::Yes:
            break;
        case State::WantNo:
            // A refusal answered by a yes: the server breaks the rules; take its word, since
            // answering again is what would loop. With a request queued behind, it is granted.
            settle(e.opposite ? State::Yes : State::No);
            break;
        case State::WantYes:
            if (e.opposite) {
                e.state = State::WantNo;
                e.opposite = false;
                sendNegotiation(verbs.no, option);
            } else {
                settle(State::Yes);
            }
            break;
        }
        return;
    }
    switch (e.state) {
    case State::No:
        break;
    case State::Yes:
        settle(State::No);
        sendNegotiation(verbs.no, option);
        break;
    case State::WantNo:
        if (e.opposite) {
            e.state = State::WantYes;
            e.opposite = false;
            sendNegotiation(verbs.yes, option);
        } else {
            settle(State::No);
        }
        break;
    case State::WantYes:
        settle(State::No);
        break;
    }
}

void TelnetCodec::afterIac(std::uint8_t byte, Decoded &out)
{
    switch (byte) {
    case IAC:
        out.data.append(char(IAC));
        m_phase = Phase::Data;
        break;
    case WILL:
    case WONT:
    case DO:
    case DONT:
        m_command = byte;
        m_phase = Phase::Option;
        break;
    case SB:
        m_phase = Phase::SbOption;
        break;
    default:
        out.events.append({Event::Kind::Command, byte, 0, Side::Us, false, {}});
        m_phase = Phase::Data;
        break;
    }
}

TelnetCodec::Decoded TelnetCodec::feed(QByteArrayView bytes)
{
    Decoded out;
    out.data.reserve(bytes.size());
    const auto keep = [&](std::uint8_t byte) {
        if (m_payload.size() < kMaxSubnegotiation) {
            m_payload.append(char(byte));
            return;
        }
        out.events.append({Event::Kind::TooLong, 0, m_sbOption, Side::Us, false, {}});
        m_payload = QByteArray();
        m_phase = Phase::SbSkip;
    };
    for (char c : bytes) {
        const auto byte = std::uint8_t(c);
        switch (m_phase) {
        case Phase::Data:
            if (byte == IAC) {
                m_afterCr = false;
                m_phase = Phase::Command;
            } else if (m_afterCr && byte == NUL) {
                m_afterCr = false;
            } else {
                out.data.append(c);
                // Until the server sends in BINARY, it sends as an NVT: a CR alone comes as CR NUL.
                m_afterCr = byte == CR && !isEnabled(Side::Him, Binary);
            }
            break;
        case Phase::Command:
            afterIac(byte, out);
            break;
        case Phase::Option:
            m_phase = Phase::Data;
            negotiate(m_command, byte, out);
            break;
        case Phase::SbOption:
            m_sbOption = byte;
            m_payload.clear();
            m_phase = Phase::SbData;
            break;
        case Phase::SbData:
            if (byte == IAC)
                m_phase = Phase::SbCommand;
            else
                keep(byte);
            break;
        case Phase::SbCommand:
            if (byte == IAC) {
                m_phase = Phase::SbData;
                keep(byte);
            } else if (byte == SE) {
                out.events.append({Event::Kind::Subnegotiation, 0, m_sbOption, Side::Us, false, std::exchange(m_payload, {})});
                m_phase = Phase::Data;
            } else {
                // A command inside a subnegotiation: its IAC SE was lost. What was gathered is
                // dropped rather than read as a whole one, and the command is taken as it is.
                out.events.append({Event::Kind::Cut, 0, m_sbOption, Side::Us, false, {}});
                m_payload = QByteArray();
                afterIac(byte, out);
            }
            break;
        case Phase::SbSkip:
            if (byte == IAC)
                m_phase = Phase::SbSkipCommand;
            break;
        case Phase::SbSkipCommand:
            if (byte == IAC)
                m_phase = Phase::SbSkip;
            else if (byte == SE)
                m_phase = Phase::Data;
            else
                afterIac(byte, out);
            break;
        }
    }
    return out;
}
