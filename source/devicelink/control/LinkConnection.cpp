#include "control/LinkConnection.h"

#include "control/CardControl.h"
#include "control/LinkWords.h"
#include "transport/ModemLines.h"
#include "transport/TransportTable.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

qint32 openResultFor(LinkFailure::Kind kind)
{
    switch (kind) {
    case LinkFailure::Kind::NoSuchCom:
    case LinkFailure::Kind::NoSuchDevice:
    case LinkFailure::Kind::BadUrl:
        return CardControl::NoSuchPort;
    case LinkFailure::Kind::NoSuchSpeed:
        return CardControl::ArgumentsNotUnderstood;
    case LinkFailure::Kind::CannotOpen:
    case LinkFailure::Kind::Busy:
    // A device server that does not set the port as asked: the server is there, the port is not usable.
    case LinkFailure::Kind::NoPortControl:
    case LinkFailure::Kind::LineNotSet:
    case LinkFailure::Kind::LineDiffers:
        return CardControl::CannotOpen;
    case LinkFailure::Kind::Refused:
    case LinkFailure::Kind::Unreachable:
    case LinkFailure::Kind::DroppedAtOnce:
        return CardControl::ConnectionFailed;
    case LinkFailure::Kind::TimedOut:
        return CardControl::ConnectTimedOut;
    case LinkFailure::Kind::Interrupted:
        return CardControl::ConnectInterrupted;
    }
    return CardControl::CannotOpen;
}

} // namespace

LinkConnection::LinkConnection(LinkEvents &events, QObject *parent) : QObject(parent), m_events(events) {}

LinkConnection::~LinkConnection()
{
    interruptConnectWait();
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        delete m_transport;
        m_transport = nullptr;
    }
}

qint32 LinkConnection::fail(const LinkAddress &address, const LinkFailure &failure)
{
    const qint32 result = openResultFor(failure.kind);
    m_openFailure = LinkWords::failureReason(address, failure);
    m_events.openFailed(result, address, failure);
    return result;
}

qint32 LinkConnection::refuse(const OpenCall &call)
{
    m_openFailure = LinkWords::openCallReason();
    m_events.openCallRefused(call);
    return CardControl::ArgumentsNotUnderstood;
}

void LinkConnection::announceOpen()
{
    m_state = State::Open;
    if (m_transport)
        m_address.confirmedLine = m_transport->confirmedLine();
    m_events.opened(m_address);
    const HeldReport held = std::exchange(m_heldReport, {});
    if (held.signature)
        m_events.serverIdentified(m_address, *held.signature);
    if (held.dsr)
        m_events.dsrChanged(m_address, *held.dsr);
}

qint32 LinkConnection::open(const LinkAddress &address)
{
    m_openFailure.clear();
    LinkTransport *transport = makeTransport(address.kind, this);
    if (!transport) { // a kind without a registered transport: nothing can open it
        m_events.opening(address);
        return fail(address, {LinkFailure::Kind::CannotOpen, {}});
    }
    return transport->opensLater() ? openLater(transport, address) : openAtOnce(transport, address);
}

qint32 LinkConnection::openAtOnce(LinkTransport *transport, const LinkAddress &address)
{
    m_events.opening(address);
    if (transport->open(address) != LinkTransport::Opening::Opened) {
        const LinkFailure failure = transport->openFailure();
        delete transport;
        return fail(address, failure);
    }
    attach(transport, address);
    announceOpen();
    return CardControl::Opened;
}

// The wait for the connection runs a local event loop, so other handlers of the window run
// during it and may call the control again:
// - OpenLink answers AlreadyOpen, SendCommand LinkNotStarted, StartLink NothingOpen, CommStatus 0;
// - CloseLink abandons the attempt: this call returns ConnectInterrupted without touching the
//   link, so a later OpenLink from the same handler may open another link meanwhile;
// - the control may even be destroyed: this call then returns without touching it.
// The socket is never deleted while this frame could still refer to it: a torn-down transport
// goes through deleteLater(), and this frame looks only at its own ConnectWait afterwards.
qint32 LinkConnection::openLater(LinkTransport *transport, const LinkAddress &address)
{
    attach(transport, address);
    m_state = State::Connecting;
    const quint64 generation = m_generation;

    QEventLoop loop;
    ConnectWait wait;
    wait.loop = &loop;
    m_connectWait = &wait;

    using Outcome = ConnectWait::Outcome;
    // The first outcome decides. The loop quits, but it returns only when the handler that ran
    // inside it does; a later report, such as the limit running out while a handler that has
    // closed this attempt waits in a loop of its own, must not turn an interrupted attempt into a
    // failed one, whose teardown would hit the link that handler has opened since.
    const auto decide = [&wait, &loop](Outcome outcome) {
        if (wait.outcome == Outcome::Pending)
            wait.outcome = outcome;
        loop.quit();
    };
    connect(transport, &LinkTransport::opened, &loop, [decide] { decide(Outcome::Connected); });
    connect(transport, &LinkTransport::openFailed, &loop, [decide, transport] {
        decide(transport->openFailure().kind == LinkFailure::Kind::Refused ? Outcome::Refused : Outcome::Failed);
    });
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    connect(&limit, &QTimer::timeout, &loop, [decide] { decide(Outcome::TimedOut); });
    limit.start(transport->openLimitMs());
    m_events.opening(address);
    transport->open(address);

    QPointer<LinkConnection> self(this);
    if (wait.outcome == Outcome::Pending)
        loop.exec();
    if (!self)
        return CardControl::ConnectInterrupted;
    if (m_connectWait == &wait)
        m_connectWait = nullptr;

    switch (wait.outcome) {
    case Outcome::Connected:
        // A handler that ran in the loop's last turn may have waited in turn while the peer hung
        // up; the link's loss has then been handled already and nothing is left to open.
        if (m_generation != generation || m_state != State::Connecting)
            return fail(address, {LinkFailure::Kind::DroppedAtOnce, {}});
        announceOpen();
        return CardControl::Opened;
    case Outcome::Interrupted:
        // CloseLink ran during the wait and has torn this attempt down already.
        m_openFailure = LinkWords::failureReason(address, {LinkFailure::Kind::Interrupted, {}});
        return CardControl::ConnectInterrupted;
    case Outcome::Pending: // the application quit every event loop
        detach();
        m_openFailure = LinkWords::failureReason(address, {LinkFailure::Kind::Interrupted, {}});
        return CardControl::ConnectInterrupted;
    case Outcome::Refused:
    case Outcome::Failed: {
        const LinkFailure failure = transport->openFailure();
        detach();
        return fail(address, failure);
    }
    case Outcome::TimedOut:
        detach();
        return fail(address, {LinkFailure::Kind::TimedOut, {}});
    }
    return CardControl::ConnectionFailed;
}

void LinkConnection::attach(LinkTransport *transport, const LinkAddress &address)
{
    m_transport = transport;
    m_address = address;
    const quint64 generation = ++m_generation;
    // The link is torn down from the event loop, never inside the transport's own notifier.
    connect(transport, &LinkTransport::lost, this, [this, generation] { handleLost(generation); },
            Qt::QueuedConnection);
    // What a device server says of itself and its lines while the link is being opened is told
    // once the open is: the record names the link from its open on.
    connect(transport, &LinkTransport::serverIdentified, this, [this](const QString &signature) {
        if (m_state == State::Connecting)
            m_heldReport.signature = signature;
        else
            m_events.serverIdentified(m_address, signature);
    });
    connect(transport, &LinkTransport::dsrChanged, this, [this](bool active) {
        if (m_state == State::Connecting)
            m_heldReport.dsr = active;
        else
            m_events.dsrChanged(m_address, active);
    });
    emit transportChanged(transport);
}

void LinkConnection::detach()
{
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        m_transport->deleteLater();
        m_transport = nullptr;
    }
    ++m_generation;
    m_heldReport = {};
    m_dsrReportedInactive = false; // a new link says it again
    m_state = State::None;
    emit transportChanged(nullptr);
}

void LinkConnection::interruptConnectWait()
{
    if (!m_connectWait)
        return;
    // Overrides whatever else was reported: CloseLink has torn the attempt down.
    m_connectWait->outcome = ConnectWait::Outcome::Interrupted;
    m_connectWait->loop->quit();
    m_connectWait = nullptr;
}

bool LinkConnection::start()
{
    if (m_state == State::Open)
        m_state = State::Started;
    return m_state == State::Started;
}

void LinkConnection::stop()
{
    if (m_state == State::Started)
        m_state = State::Open;
}

void LinkConnection::close()
{
    interruptConnectWait();
    if (m_state == State::Open || m_state == State::Started)
        m_events.closed(m_address);
    detach();
}

void LinkConnection::handleLost(quint64 generation)
{
    const LinkEventBatch batch(m_events);
    if (generation != m_generation)
        return;
    m_events.lost(m_address, m_transport ? m_transport->lostReason() : QString());
    emit lost();
    m_events.flush();
    detach();
}

bool LinkConnection::dsrInactive()
{
    ModemLines *lines = m_transport ? m_transport->modemLines() : nullptr; // nullptr over TCP
    if (lines && m_modemLinesOverride)
        lines = m_modemLinesOverride;
    if (!lines)
        return false;
    const std::optional<bool> dsr = lines->dsrActive();
    if (dsr.has_value() && !*dsr) {
        if (!m_dsrReportedInactive)
            m_events.dsrInactive(m_address);
        m_dsrReportedInactive = true;
        return true;
    }
    if (dsr.value_or(true) && m_dsrReportedInactive) {
        m_dsrReportedInactive = false;
        m_events.dsrActiveAgain(m_address);
    }
    return false;
}
