#pragma once

#include "transport/LinkAddress.h"
#include "transport/TelnetCodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The client's end of RFC 2217 (the com-port option of Telnet) over TelnetCodec, for a serial
// port behind a device server: the port set to the line the device speaks, the values the server
// says are in force checked against it, DSR as the server reports it, the server's flow control.
// No I/O: a transport feeds it the socket's bytes, writes takeOutput() and sends the device's
// bytes through sendData() once state() is Ready.
//
// Negotiation: we WILL the com-port option (the client sends its commands, the server DOes
// them), ask for BINARY and SUPPRESS-GO-AHEAD both ways, and refuse every other option.
namespace ComPort {
// Client codes; the server answers each with the code + 100.
constexpr std::uint8_t Signature = 0;
constexpr std::uint8_t SetBaudRate = 1;
constexpr std::uint8_t SetDataSize = 2;
constexpr std::uint8_t SetParity = 3;
constexpr std::uint8_t SetStopSize = 4;
constexpr std::uint8_t SetControl = 5;
constexpr std::uint8_t NotifyLineState = 6;
constexpr std::uint8_t NotifyModemState = 7;
constexpr std::uint8_t FlowControlSuspend = 8;
constexpr std::uint8_t FlowControlResume = 9;
constexpr std::uint8_t SetLineStateMask = 10;
constexpr std::uint8_t SetModemStateMask = 11;
constexpr std::uint8_t PurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

// Values of SET-PARITY, SET-STOPSIZE (the line's own enums carry the protocol's values) and
// SET-CONTROL (outbound flow control).
using Parity = SerialLine::Parity;
using StopBits = SerialLine::StopBits;
constexpr std::uint8_t kNoFlowControl = 1;
// PURGE-DATA's values.
enum class Purge : std::uint8_t { Received = 1, Transmitted = 2, Both = 3 };

// The modem state's bits as NOTIFY-MODEMSTATE carries them (a UART's modem status register).
constexpr std::uint8_t kCarrierDetect = 0x80;
constexpr std::uint8_t kRingIndicator = 0x40;
constexpr std::uint8_t kDsr = 0x20;
constexpr std::uint8_t kCts = 0x10;
constexpr std::uint8_t kDsrChanged = 0x02;
} // namespace ComPort

class ComPortControl
{
public:
    enum class State {
        Idle,        // open() not called yet
        Negotiating, // waiting for the server to take the com-port option, BINARY, SGA
        Configuring, // line settings requested, not all confirmed
        Ready,       // every setting confirmed: the device's bytes may flow
        Failed,      // failure() says why; the link should be closed
    };
    // The settings that the server confirms, each with the value asked for.
    enum class Setting { Speed, DataSize, Parity, StopSize, FlowControl };

    struct Event
    {
        enum class Kind {
            Ready,         // every setting confirmed
            Failed,        // text: failure()
            Confirmed,     // setting, value: the server put it in force as asked
            Differs,       // setting, value (in force), wanted: text names both
            ModemState,    // value: the state byte; dsr() follows it
            LineState,     // value: the line state byte (errors, break)
            Signature,     // text: the server's signature
            Suspended,     // the server asked us to stop sending; output waits
            Resumed,
            Dropped,       // text: a subnegotiation or reply that could not be read, and why
        };
        Kind kind;
        Setting setting = Setting::Speed;
        qint64 value = 0;
        qint64 wanted = 0;
        QString text;
    };
    struct Decoded
    {
        QByteArray data;
        QList<Event> events;
    };
    // What the server last said is in force; nothing for what it has not said.
    struct InForce
    {
        std::optional<qint64> speed;
        std::optional<int> dataBits;
        std::optional<int> parity;
        std::optional<int> stopSize;
        std::optional<int> flowControl;
    };

    // signature: what we answer when the server asks who we are.
    explicit ComPortControl(QByteArray signature = "Brindle");

    // Starts the negotiation and, once the server has taken the com-port option, asks for the
    // line's speed and framing, no flow control, the server's signature and DSR's changes.
    // Nothing is purged: what the device sent before we came stays readable.
    void open(const SerialLine &line);

    // The server's bytes in; the device's bytes and what happened out. Replies to the requests
    // drive state(); a setting that the server puts in force other than asked fails the link,
    // whenever it is said.
    Decoded feed(QByteArrayView bytes);

    // The device's bytes out. Sent before Ready they could be read in the wrong mode (BINARY
    // may not be agreed yet), so the transport holds them until then.
    void sendData(QByteArrayView data) { m_telnet.sendData(data); }
    // Asks the server to stop (or go on) passing the device's bytes to us.
    void suspendInput() { request(ComPort::FlowControlSuspend, {}); }
    void resumeInput() { request(ComPort::FlowControlResume, {}); }
    void purge(ComPort::Purge what) { request(ComPort::PurgeData, QByteArray(1, char(what))); }

    // Bytes for the server; nothing while the server has suspended us (RFC 2217: data and
    // commands wait for its resume).
    QByteArray takeOutput() { return m_suspended ? QByteArray() : m_telnet.takeOutput(); }
    bool hasOutput() const { return !m_suspended && m_telnet.hasOutput(); }
    bool suspended() const { return m_suspended; }

    State state() const { return m_state; }
    // Why the link failed: "the server set 4800 bit/s, not 9600"; empty unless Failed.
    QString failure() const { return m_failure; }
    // Whether it failed because the server does not take the com-port option at all.
    bool refusedPortControl() const { return m_refused; }
    // The line the server confirmed, once Ready.
    SerialLine line() const { return m_line; }
    // What the server has not answered yet ("the speed, the parity"), for a transport that gives
    // up waiting; empty when nothing is outstanding.
    QString awaited() const;
    // Fails the link with what is still awaited; a transport's time-out calls this.
    void giveUp();

    const InForce &inForce() const { return m_inForce; }
    // DSR from the last NOTIFY-MODEMSTATE; nothing until the server has sent one that shows it
    // reads the port's lines: one with a line active or DSR's change bit, or DSR other than
    // before. A first report of every line off is what ser2net sends for a port without modem
    // lines (a pseudo-terminal) as for a device that is off; taken as not known, the DSR check
    // lets commands go, as on a local port that cannot report its lines.
    std::optional<bool> dsr() const;
    std::optional<std::uint8_t> modemState() const { return m_modemState; }
    QString serverSignature() const { return m_serverSignature; }

    TelnetCodec &telnet() { return m_telnet; }

private:
    void request(std::uint8_t code, QByteArrayView value);
    void sendRequests();
    void reply(std::uint8_t code, const QByteArray &value, Decoded &out);
    void check(Setting setting, qint64 value, Decoded &out);
    void fail(const QString &why, Decoded &out);
    void settleIfDone(Decoded &out);
    void portOption(const TelnetCodec::Event &event, Decoded &out);
    bool portOffered() const { return m_portUs || m_portHim; }

    TelnetCodec m_telnet;
    QByteArray m_signature;
    SerialLine m_line;
    State m_state = State::Idle;
    bool m_requested = false;
    bool m_suspended = false;
    // The com-port option as the server's answers left it: normally ours (the server DOes it);
    // his too, for a server that reads the option the other way round and WILLs it.
    bool m_portUs = false;
    bool m_portHim = false;
    bool m_refused = false;     // the server turned the com-port option down
    unsigned m_unsettled = 0;   // BINARY and SGA requests not answered yet, one bit each
    unsigned m_awaiting = 0;    // one bit per Setting
    QStringList m_differences;
    QString m_failure;
    InForce m_inForce;
    std::optional<std::uint8_t> m_modemState;
    bool m_modemLinesRead = false;
    QString m_serverSignature;
};
