#include "transport/ComPortControl.h"

#include <QtEndian>

#include <iterator>
#include <utility>

using namespace ComPort;
using Side = TelnetCodec::Side;
using TelnetEvent = TelnetCodec::Event;

namespace {

constexpr unsigned bit(ComPortControl::Setting setting)
{
    return 1u << unsigned(setting);
}
constexpr unsigned kAllSettings = (1u << 5) - 1;

// The options asked for both ways besides the com-port option; each has a bit in m_unsettled.
struct Wanted
{
    Side side;
    std::uint8_t option;
};
constexpr Wanted kWanted[] = {{Side::Us, Telnet::Binary},
                              {Side::Him, Telnet::Binary},
                              {Side::Us, Telnet::SuppressGoAhead},
                              {Side::Him, Telnet::SuppressGoAhead}};

QString settingName(ComPortControl::Setting setting)
{
    switch (setting) {
    case ComPortControl::Setting::Speed:
        return QStringLiteral("the speed");
    case ComPortControl::Setting::DataSize:
        return QStringLiteral("the data size");
    case ComPortControl::Setting::Parity:
        return QStringLiteral("the parity");
    case ComPortControl::Setting::StopSize:
        return QStringLiteral("the stop bits");
    case ComPortControl::Setting::FlowControl:
        return QStringLiteral("the flow control");
    }
    return {};
}

QString parityName(qint64 value)
{
    static const char *const names[] = {"none", "odd", "even", "mark", "space"};
    return value >= 1 && value <= 5 ? QString::fromLatin1(names[value - 1]) : QString::number(value);
}

QString stopName(qint64 value)
{
    return value == qint64(StopBits::OneAndHalf) ? QStringLiteral("1.5") : QString::number(value);
}

QString flowName(qint64 value)
{
    static const char *const names[] = {"none", "XON/XOFF", "hardware"};
    return value >= 1 && value <= 3 ? QString::fromLatin1(names[value - 1]) : QString::number(value);
}

// "the server set 4800 bit/s, not 9600"
QString difference(ComPortControl::Setting setting, qint64 value, qint64 wanted)
{
    const QString form = QStringLiteral("the server set %1, not %2");
    switch (setting) {
    case ComPortControl::Setting::Speed:
        return form.arg(QStringLiteral("%1 bit/s").arg(value)).arg(wanted);
    case ComPortControl::Setting::DataSize:
        return form.arg(QStringLiteral("%1 data bits").arg(value)).arg(wanted);
    case ComPortControl::Setting::Parity:
        return form.arg(parityName(value) + QStringLiteral(" parity"), parityName(wanted));
    case ComPortControl::Setting::StopSize:
        return form.arg(stopName(value) + QStringLiteral(" stop bits"), stopName(wanted));
    case ComPortControl::Setting::FlowControl:
        return form.arg(flowName(value) + QStringLiteral(" flow control"), flowName(wanted));
    }
    return {};
}

} // namespace

ComPortControl::ComPortControl(QByteArray signature) : m_signature(std::move(signature))
{
    // Agreed when the server asks first, even before open(); everything else is refused.
    m_telnet.allow(Side::Us, Telnet::ComPort);
    m_telnet.allow(Side::Him, Telnet::ComPort);
    for (const Wanted &w : kWanted)
        m_telnet.allow(w.side, w.option);
}

void ComPortControl::open(const SerialLine &line)
{
    m_line = line;
    m_state = State::Negotiating;
    m_telnet.enable(Side::Us, Telnet::ComPort);
    m_unsettled = 0;
    for (unsigned i = 0; i < std::size(kWanted); ++i) {
        m_telnet.enable(kWanted[i].side, kWanted[i].option);
        if (m_telnet.state(kWanted[i].side, kWanted[i].option) != TelnetCodec::State::Yes)
            m_unsettled |= 1u << i;
    }
    if (m_refused) {
        m_state = State::Failed;
        m_failure = QStringLiteral("the server does not offer RFC 2217 port control");
    } else if (portOffered()) {
        sendRequests();
    }
}

void ComPortControl::request(std::uint8_t code, QByteArrayView value)
{
    QByteArray payload(1, char(code));
    payload += value;
    m_telnet.sendSubnegotiation(Telnet::ComPort, payload);
}

void ComPortControl::sendRequests()
{
    if (m_requested)
        return;
    m_requested = true;
    m_state = State::Configuring;
    m_awaiting = kAllSettings;
    request(Signature, {}); // empty: asks for the server's
    char speed[4];
    qToBigEndian(quint32(m_line.baudRate), speed);
    request(SetBaudRate, QByteArrayView(speed, 4));
    request(SetDataSize, QByteArray(1, char(m_line.dataBits)));
    request(SetParity, QByteArray(1, char(m_line.parity)));
    request(SetStopSize, QByteArray(1, char(m_line.stopBits)));
    // A port left with flow control by its last user would hold our bytes (hardware) or eat
    // 0x11 and 0x13 from the frames (XON/XOFF); the device has neither.
    request(SetControl, QByteArray(1, char(kNoFlowControl)));
    request(SetModemStateMask, QByteArray(1, char(kDsr | kDsrChanged)));
}

ComPortControl::Decoded ComPortControl::feed(QByteArrayView bytes)
{
    TelnetCodec::Decoded telnet = m_telnet.feed(bytes);
    Decoded out;
    out.data = std::move(telnet.data);
    for (const TelnetEvent &event : std::as_const(telnet.events)) {
        if (event.option == Telnet::ComPort) {
            portOption(event, out);
            continue;
        }
        if (event.kind == TelnetEvent::Kind::Settled) {
            for (unsigned i = 0; i < std::size(kWanted); ++i) {
                if (kWanted[i].side == event.side && kWanted[i].option == event.option)
                    m_unsettled &= ~(1u << i);
            }
            settleIfDone(out);
        } else if (event.kind == TelnetEvent::Kind::Subnegotiation || event.kind == TelnetEvent::Kind::TooLong
                   || event.kind == TelnetEvent::Kind::Cut) {
            out.events.append({Event::Kind::Dropped, Setting::Speed, event.option, 0,
                               QStringLiteral("a subnegotiation of option %1, which is off").arg(event.option)});
        }
    }
    return out;
}

void ComPortControl::portOption(const TelnetEvent &event, Decoded &out)
{
    switch (event.kind) {
    case TelnetEvent::Kind::Settled:
        (event.side == Side::Us ? m_portUs : m_portHim) = event.enabled;
        if (portOffered()) {
            m_refused = false;
            if (m_state == State::Negotiating)
                sendRequests();
        } else if (!event.enabled) {
            m_refused = true;
        }
        break;
    case TelnetEvent::Kind::Negotiation:
        // A server that reads the option the other way round says WONT where it means DONT;
        // the Q method rightly ignores a WONT for an option it never asked of him, so it is
        // taken here as the refusal it is.
        if (!event.enabled && !portOffered())
            m_refused = true;
        break;
    case TelnetEvent::Kind::Subnegotiation:
        if (event.payload.isEmpty()) {
            out.events.append({Event::Kind::Dropped, Setting::Speed, 0, 0, QStringLiteral("an empty com-port subnegotiation")});
            return;
        }
        reply(std::uint8_t(event.payload.at(0)), event.payload.sliced(1), out);
        return;
    case TelnetEvent::Kind::TooLong:
        out.events.append({Event::Kind::Dropped, Setting::Speed, 0, 0,
                           QStringLiteral("a com-port subnegotiation longer than %1 bytes").arg(Telnet::kMaxSubnegotiation)});
        return;
    case TelnetEvent::Kind::Cut:
        out.events.append({Event::Kind::Dropped, Setting::Speed, 0, 0, QStringLiteral("a com-port subnegotiation without its end")});
        return;
    case TelnetEvent::Kind::Command:
        return;
    }
    if (m_refused && m_state != State::Idle)
        fail(QStringLiteral("the server does not offer RFC 2217 port control"), out);
}

void ComPortControl::reply(std::uint8_t code, const QByteArray &value, Decoded &out)
{
    const auto oneByte = [&](Setting setting) {
        if (value.size() != 1) {
            out.events.append({Event::Kind::Dropped, setting, value.size(), 0,
                               QStringLiteral("a reply for %1 of %2 bytes").arg(settingName(setting)).arg(value.size())});
            return;
        }
        check(setting, quint8(value.at(0)), out);
    };
    switch (code) {
    case kServerOffset + Signature:
        if (value.isEmpty()) {
            request(Signature, m_signature); // the server asks who we are
        } else {
            m_serverSignature = QString::fromLatin1(value).trimmed();
            out.events.append({Event::Kind::Signature, Setting::Speed, 0, 0, m_serverSignature});
        }
        return;
    case kServerOffset + SetBaudRate:
        if (value.size() != 4) {
            out.events.append({Event::Kind::Dropped, Setting::Speed, value.size(), 0,
                               QStringLiteral("a reply for the speed of %1 bytes").arg(value.size())});
            return;
        }
        check(Setting::Speed, qFromBigEndian<quint32>(value.constData()), out);
        return;
    case kServerOffset + SetDataSize:
        oneByte(Setting::DataSize);
        return;
    case kServerOffset + SetParity:
        oneByte(Setting::Parity);
        return;
    case kServerOffset + SetStopSize:
        oneByte(Setting::StopSize);
        return;
    case kServerOffset + SetControl:
        // The same reply code answers for BREAK, DTR, RTS and inbound flow control (4 to 19);
        // only the outbound flow control (1 to 3) is ours to check.
        if (value.size() == 1 && quint8(value.at(0)) >= 1 && quint8(value.at(0)) <= 3)
            oneByte(Setting::FlowControl);
        return;
    case kServerOffset + NotifyLineState:
        if (value.size() == 1)
            out.events.append({Event::Kind::LineState, Setting::Speed, quint8(value.at(0)), 0, {}});
        return;
    case kServerOffset + NotifyModemState:
        if (value.size() == 1) {
            const quint8 state = quint8(value.at(0));
            // ser2net reports all lines off for a port whose lines it cannot read (a
            // pseudo-terminal); only a line seen active, or a change of DSR, shows lines it reads.
            if ((state & (kCarrierDetect | kRingIndicator | kDsr | kCts | kDsrChanged)) != 0
                || (m_modemState && ((state ^ *m_modemState) & kDsr)))
                m_modemLinesRead = true;
            m_modemState = state;
            out.events.append({Event::Kind::ModemState, Setting::Speed, *m_modemState, 0, {}});
        }
        return;
    case kServerOffset + FlowControlSuspend:
        if (!m_suspended)
            out.events.append({Event::Kind::Suspended, Setting::Speed, 0, 0, {}});
        m_suspended = true;
        return;
    case kServerOffset + FlowControlResume:
        if (m_suspended)
            out.events.append({Event::Kind::Resumed, Setting::Speed, 0, 0, {}});
        m_suspended = false;
        return;
    case kServerOffset + SetLineStateMask:
    case kServerOffset + SetModemStateMask:
    case kServerOffset + PurgeData:
        return; // what the server took; nothing depends on it
    default:
        out.events.append({Event::Kind::Dropped, Setting::Speed, code, 0,
                           QStringLiteral("a com-port command %1 that no server sends").arg(code)});
        return;
    }
}

void ComPortControl::check(Setting setting, qint64 value, Decoded &out)
{
    qint64 wanted = 0;
    switch (setting) {
    case Setting::Speed:
        m_inForce.speed = value;
        wanted = m_line.baudRate;
        break;
    case Setting::DataSize:
        m_inForce.dataBits = int(value);
        wanted = m_line.dataBits;
        break;
    case Setting::Parity:
        m_inForce.parity = int(value);
        wanted = qint64(m_line.parity);
        break;
    case Setting::StopSize:
        m_inForce.stopSize = int(value);
        wanted = qint64(m_line.stopBits);
        break;
    case Setting::FlowControl:
        m_inForce.flowControl = int(value);
        wanted = kNoFlowControl;
        break;
    }
    if (!m_requested)
        return; // said before we asked: in force, but nothing to hold it against yet
    m_awaiting &= ~bit(setting);
    if (value == wanted) {
        out.events.append({Event::Kind::Confirmed, setting, value, wanted, {}});
    } else {
        const QString text = difference(setting, value, wanted);
        out.events.append({Event::Kind::Differs, setting, value, wanted, text});
        if (!m_differences.contains(text))
            m_differences.append(text);
        // A setting changed under a link in use (another client of the server, for one) fails
        // it as surely as one refused at the start.
        if (m_state == State::Ready)
            fail(text, out);
    }
    settleIfDone(out);
}

void ComPortControl::settleIfDone(Decoded &out)
{
    if (m_state != State::Configuring || m_awaiting != 0 || m_unsettled != 0)
        return;
    if (!m_differences.isEmpty()) {
        fail(m_differences.join(QStringLiteral("; ")), out);
        return;
    }
    m_state = State::Ready;
    out.events.append({Event::Kind::Ready, Setting::Speed, 0, 0, {}});
}

void ComPortControl::fail(const QString &why, Decoded &out)
{
    if (m_state == State::Failed)
        return;
    m_state = State::Failed;
    m_failure = why;
    out.events.append({Event::Kind::Failed, Setting::Speed, 0, 0, why});
}

QString ComPortControl::awaited() const
{
    QStringList names;
    if (m_state == State::Negotiating)
        names << QStringLiteral("the com-port option");
    for (unsigned i = 0; i < std::size(kWanted); ++i) {
        if (m_unsettled & (1u << i)) {
            const QString name = kWanted[i].option == Telnet::Binary ? QStringLiteral("BINARY") : QStringLiteral("SUPPRESS-GO-AHEAD");
            if (!names.contains(name))
                names << name;
        }
    }
    for (unsigned i = 0; i < 5; ++i) {
        if (m_awaiting & (1u << i))
            names << settingName(Setting(i));
    }
    return names.join(QStringLiteral(", "));
}

void ComPortControl::giveUp()
{
    if (m_state == State::Ready || m_state == State::Failed)
        return;
    Decoded ignored;
    fail(QStringLiteral("no answer from the server for %1").arg(awaited()), ignored);
}

std::optional<bool> ComPortControl::dsr() const
{
    if (!m_modemState || !m_modemLinesRead)
        return std::nullopt;
    return (*m_modemState & kDsr) != 0;
}
