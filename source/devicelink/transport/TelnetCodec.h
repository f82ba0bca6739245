#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>
#include <cstdint>
#include <utility>

// Telnet (RFC 854, 855) as a serial device server speaks it around a remote port's bytes: the
// data with its commands cut out, the commands as events, option negotiation by the Q method
// of RFC 1143. No socket and no timer: bytes go in through feed(), whatever must go back to the
// server collects until takeOutput(). The com-port option on top of it is ComPortControl.
namespace Telnet {
constexpr std::uint8_t SE = 240;
constexpr std::uint8_t NOP = 241;
constexpr std::uint8_t GA = 249;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t IAC = 255;

constexpr std::uint8_t CR = 13;
constexpr std::uint8_t NUL = 0;

// The options this link has a use for.
constexpr std::uint8_t Binary = 0;
constexpr std::uint8_t SuppressGoAhead = 3;
constexpr std::uint8_t ComPort = 44;

// A subnegotiation's payload is kept up to this size; a server that sends more (or loses its
// IAC SE) has the rest skipped up to the next IAC SE, so a broken peer cannot make us hold
// more than this. The com-port option's longest sound payload is a signature text, far shorter.
constexpr int kMaxSubnegotiation = 4096;
} // namespace Telnet

class TelnetCodec
{
public:
    // Us: what this end does (the server's DO/DONT, our WILL/WONT); Him: what the server does
    // (his WILL/WONT, our DO/DONT).
    enum class Side { Us, Him };
    // RFC 1143's states; opposite() says whether the contrary request waits behind the one
    // under way.
    enum class State { No, Yes, WantNo, WantYes };

    struct Event
    {
        enum class Kind {
            Negotiation,       // the server sent WILL/WONT/DO/DONT (command, option), answered or not
            Settled,           // an option was agreed or given up (side, option, enabled)
            Subnegotiation,    // IAC SB option payload IAC SE, payload with IAC IAC made one byte
            TooLong,           // a subnegotiation passed kMaxSubnegotiation; the rest is skipped
            Cut,               // a subnegotiation that a command other than SE ended; dropped
            Command,           // any other IAC command (NOP, GA, DM, AYT, a stray SE, an unknown byte)
        };
        Kind kind;
        std::uint8_t command = 0; // Negotiation: WILL..DONT; Command: the byte after IAC
        std::uint8_t option = 0;
        Side side = Side::Us;
        bool enabled = false;
        QByteArray payload; // Subnegotiation only
    };
    struct Decoded
    {
        QByteArray data;
        QList<Event> events;
    };

    // Options the server may turn on for a side without our asking; all others are refused.
    void allow(Side side, std::uint8_t option) { entry(side, option).allowed = true; }
    // Asks for an option (RFC 1143's "we want it enabled"); allows it too. Asking again while
    // it is on or under way sends nothing.
    void enable(Side side, std::uint8_t option);
    // Asks for an option to be off, and no longer allows it.
    void disable(Side side, std::uint8_t option);
    State state(Side side, std::uint8_t option) const { return entry(side, option).state; }
    bool opposite(Side side, std::uint8_t option) const { return entry(side, option).opposite; }
    bool isEnabled(Side side, std::uint8_t option) const { return state(side, option) == State::Yes; }

    // Cuts the server's bytes into data and events, in any pieces: a command or subnegotiation
    // may end in a later call. Answers to negotiation go to the output. Until the server's
    // BINARY is on it sends as an NVT, where a CR alone travels as CR NUL: the NUL after a CR is
    // dropped then, and nothing else is changed (CR LF stays two bytes, since the device's bytes
    // are not text). In BINARY every byte is data.
    Decoded feed(QByteArrayView bytes);

    // Data for the server, with IAC doubled (and CR as CR NUL until our BINARY is on).
    void sendData(QByteArrayView data);
    void sendCommand(std::uint8_t command);
    void sendSubnegotiation(std::uint8_t option, QByteArrayView payload);

    // What must go to the server, in order; taking it empties it.
    QByteArray takeOutput() { return std::exchange(m_output, {}); }
    bool hasOutput() const { return !m_output.isEmpty(); }

    // Memory held for a subnegotiation in progress: at most about kMaxSubnegotiation.
    qsizetype heldBytes() const { return m_payload.capacity(); }

    // IAC doubled, nothing else: data as it goes in BINARY mode.
    static QByteArray escaped(QByteArrayView data);

private:
    enum class Phase { Data, Command, Option, SbOption, SbData, SbCommand, SbSkip, SbSkipCommand };
    struct Entry
    {
        State state = State::No;
        bool opposite = false;
        bool allowed = false;
    };
    Entry &entry(Side side, std::uint8_t option) { return m_options[side == Side::Us ? 0 : 1][option]; }
    const Entry &entry(Side side, std::uint8_t option) const { return m_options[side == Side::Us ? 0 : 1][option]; }
    void negotiate(std::uint8_t command, std::uint8_t option, Decoded &out);
    void sendNegotiation(std::uint8_t command, std::uint8_t option);
    void afterIac(std::uint8_t byte, Decoded &out);

    std::array<std::array<Entry, 256>, 2> m_options{};
    Phase m_phase = Phase::Data;
    std::uint8_t m_command = 0;    // WILL..DONT waiting for its option
    std::uint8_t m_sbOption = 0;
    QByteArray m_payload;
    bool m_afterCr = false;        // the last data byte was a CR outside BINARY: a NUL next is padding
    QByteArray m_output;
};
