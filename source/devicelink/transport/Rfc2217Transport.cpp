#include "transport/Rfc2217Transport.h"

#include "transport/TcpTransport.h"

namespace {

// Kept of what the server sends before the port is set up: enough for a sentence of its own.
constexpr qsizetype kEarlyDataKept = 200;

} // namespace

Rfc2217Transport::Rfc2217Transport(QObject *parent) : LinkTransport(parent), m_tcp(new TcpTransport(this))
{
    m_tcp->setPeer(TcpTransport::Peer::Server);
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, &Rfc2217Transport::handleNegotiationTimeout);
    connect(m_tcp, &TcpTransport::opened, this, &Rfc2217Transport::handleConnected);
    connect(m_tcp, &TcpTransport::openFailed, this, [this] { failOpen(m_tcp->openFailure()); });
    connect(m_tcp, &TcpTransport::bytesArrived, this, &Rfc2217Transport::handleBytes);
    connect(m_tcp, &TcpTransport::lost, this, &Rfc2217Transport::handleTcpLost);
}

Rfc2217Transport::~Rfc2217Transport()
{
    shutDown();
}

LinkTransport::Opening Rfc2217Transport::open(const LinkAddress &address)
{
    if (address.host.isEmpty() || address.port == 0)
        return refuseOpen({LinkFailure::Kind::BadUrl, {}});
    if (address.baudRate <= 0)
        return refuseOpen({LinkFailure::Kind::NoSuchSpeed, {}});
    m_line = SerialLine{};
    m_line.baudRate = address.baudRate;
    m_opening = true;
    m_limit.start(kConnectMs);
    m_tcp->connectTo(address.host, address.port);
    return Opening::Pending;
}

std::optional<SerialLine> Rfc2217Transport::confirmedLine() const
{
    if (m_port.state() != ComPortControl::State::Ready)
        return std::nullopt;
    return m_port.line();
}

bool Rfc2217Transport::isReady() const
{
    return m_port.state() == ComPortControl::State::Ready;
}

bool Rfc2217Transport::send(QByteArrayView bytes)
{
    if (isLost() || !isReady())
        return false;
    m_port.sendData(bytes);
    return writeOut();
}

bool Rfc2217Transport::writeOut()
{
    const QByteArray out = m_port.takeOutput(); // empty while the server has suspended us
    return out.isEmpty() || m_tcp->send(out);
}

void Rfc2217Transport::shutDown()
{
    markClosed();
    m_opening = false;
    m_limit.stop();
    m_tcp->disconnect(this);
    m_tcp->shutDown();
}

void Rfc2217Transport::handleConnected()
{
    m_limit.start(kNegotiationMs);
    m_port.open(m_line);
    writeOut();
    if (m_port.state() == ComPortControl::State::Failed)
        failOpen({LinkFailure::Kind::NoPortControl, m_port.failure()});
}

void Rfc2217Transport::handleBytes(const QByteArray &bytes)
{
    ComPortControl::Decoded decoded = m_port.feed(bytes);
    // Answers to the server's negotiation go out before anything is reported: a handler of the
    // report may send, and the server must read our answers first.
    if (!writeOut())
        return;
    if (m_opening && m_earlyData.size() < kEarlyDataKept)
        m_earlyData += decoded.data.first(qMin(decoded.data.size(), kEarlyDataKept - m_earlyData.size()));
    for (const ComPortControl::Event &event : std::as_const(decoded.events)) {
        handleEvent(event);
        if (isLost())
            return;
    }
    // What the device sent before the port was set up is still its own: the exchange reads it as
    // stray bytes, as on a local port.
    if (!decoded.data.isEmpty())
        emit bytesArrived(decoded.data);
}

void Rfc2217Transport::handleEvent(const ComPortControl::Event &event)
{
    using Kind = ComPortControl::Event::Kind;
    switch (event.kind) {
    case Kind::Ready:
        if (m_opening) {
            m_opening = false;
            m_limit.stop();
            m_earlyData.clear();
            emit opened();
        }
        return;
    case Kind::Failed:
        if (m_opening) {
            failOpen({m_port.refusedPortControl() ? LinkFailure::Kind::NoPortControl : LinkFailure::Kind::LineDiffers,
                      m_port.failure()});
        } else {
            reportLost(m_port.failure());
        }
        return;
    case Kind::ModemState: {
        // Told once DSR is known and each time it changes.
        const std::optional<bool> dsr = m_port.dsr();
        if (dsr && dsr != m_lastDsr)
            emit dsrChanged(*dsr);
        m_lastDsr = dsr;
        return;
    }
    case Kind::Signature:
        emit serverIdentified(event.text);
        return;
    case Kind::Resumed:
        writeOut(); // what waited during the suspension
        return;
    case Kind::Confirmed:
    case Kind::Differs:
    case Kind::LineState:
    case Kind::Suspended:
    case Kind::Dropped:
        return;
    }
}

void Rfc2217Transport::handleTcpLost()
{
    if (m_opening) {
        QString reason = QStringLiteral("the server closed the connection before the port was set up");
        const QString words = serverWords();
        if (!words.isEmpty())
            reason += QStringLiteral(" (it said \"%1\")").arg(words);
        failOpen({LinkFailure::Kind::Unreachable, reason});
        return;
    }
    reportLost(m_tcp->lostReason());
}

void Rfc2217Transport::handleNegotiationTimeout()
{
    if (!m_opening)
        return;
    if (m_port.state() == ComPortControl::State::Idle) { // still connecting
        failOpen({LinkFailure::Kind::TimedOut, {}});
        return;
    }
    const bool neverOffered = m_port.state() == ComPortControl::State::Negotiating;
    m_port.giveUp();
    failOpen({neverOffered ? LinkFailure::Kind::NoPortControl : LinkFailure::Kind::LineNotSet,
              neverOffered ? QStringLiteral("the server does not offer RFC 2217 port control") : m_port.failure()});
}

void Rfc2217Transport::failOpen(const LinkFailure &failure)
{
    if (!m_opening)
        return;
    m_opening = false;
    m_limit.stop();
    m_tcp->disconnect(this);
    m_tcp->shutDown();
    reportOpenFailed(failure);
}

QString Rfc2217Transport::serverWords() const
{
    QString words;
    for (const char c : m_earlyData) {
        if (c >= ' ' && c <= '~')
            words += QLatin1Char(c);
        else if (!words.endsWith(QLatin1Char(' ')))
            words += QLatin1Char(' ');
    }
    return words.simplified();
}
