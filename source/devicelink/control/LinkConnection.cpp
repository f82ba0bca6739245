#include "control/LinkConnection.h"

#include "control/CardControl.h"
#include "control/LinkMeaning.h"
#include "JournalFormat.h"
#include "protocol/LineSpeeds.h"
#include "transport/LinkEndpoints.h"
#include "transport/ModemLines.h"
#include "transport/PortAccess.h"
#include "transport/SerialTransport.h"
#include "transport/TcpTransport.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QTimer>

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

qint32 LinkConnection::failOpen(qint32 result, const QString &what, const QString &reason, const QString &hint)
{
    m_openFailure = reason;
    m_events.openFailed(result, what, reason, hint);
    return result;
}

void LinkConnection::announceOpen(const QString &what, const char *how)
{
    m_state = State::Open;
    m_description = what;
    m_events.opened(what, how);
}

qint32 LinkConnection::openSerial(qint32 port, qint32 speedCode)
{
    m_openFailure.clear();
    const QString path = LinkEndpoints::serialPathFor(port);
    const qint32 baudRate = LineSpeeds::bitsPerSecond(speedCode);
    const QString what = LinkEndpoints::describeSerial(port, baudRate);
    m_events.linkNamed(LinkEndpoints::journalName(port));
    if (port < 1)
        return failOpen(CardControl::NoSuchPort, QStringLiteral("COM%1").arg(port), QStringLiteral("there is no COM%1").arg(port));
    if (baudRate == 0)
        return failOpen(CardControl::ArgumentsNotUnderstood, QStringLiteral("COM%1 (%2)").arg(QString::number(port), path),
                        QStringLiteral("speed code %1 names no speed").arg(speedCode));
    auto *serial = new SerialTransport(this);
    const SerialTransport::OpenResult opened = serial->open(path, baudRate);
    const QString reason = serial->openError();
    if (opened != SerialTransport::OpenResult::Opened) {
        delete serial;
        if (opened == SerialTransport::OpenResult::NoSuchPort)
            return failOpen(CardControl::NoSuchPort, what, reason, LinkEndpoints::missingPortHint(port));
        return failOpen(CardControl::CannotOpen, what, reason, joinGroupHint(checkPortAccess(path)));
    }
    attach(serial);
    announceOpen(what, "opened");
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
qint32 LinkConnection::openNetwork(quint32 address)
{
    m_openFailure.clear();
    auto *tcp = new TcpTransport(this);
    attach(tcp);
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
    connect(tcp, &TcpTransport::connected, &loop, [decide] { decide(Outcome::Connected); });
    connect(tcp, &TcpTransport::connectFailed, &loop,
            [decide](bool refused) { decide(refused ? Outcome::Refused : Outcome::Failed); });
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    connect(&limit, &QTimer::timeout, &loop, [decide] { decide(Outcome::TimedOut); });
    limit.start(kConnectTimeoutMs);
    const quint16 port = LinkEndpoints::tcpPort();
    const QString what = QStringLiteral("%1 port %2").arg(QHostAddress(address).toString()).arg(port);
    m_events.linkNamed(QString::fromLatin1(Journal::kTcpLink.toByteArray()));
    tcp->connectTo(address, port);

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
            return failOpen(CardControl::ConnectionFailed, what, QStringLiteral("the connection dropped as soon as it was made"));
        announceOpen(what, "connected");
        return CardControl::Opened;
    case Outcome::Interrupted:
        // CloseLink ran during the wait and has torn this attempt down already.
        m_openFailure = LinkMeaning::openResult(CardControl::ConnectInterrupted);
        return CardControl::ConnectInterrupted;
    case Outcome::Pending: // the application quit every event loop
        detach();
        m_openFailure = LinkMeaning::openResult(CardControl::ConnectInterrupted);
        return CardControl::ConnectInterrupted;
    case Outcome::Refused:
    case Outcome::Failed: {
        QString reason = tcp->failureReason();
        if (!reason.isEmpty())
            reason[0] = reason[0].toLower();
        detach();
        return failOpen(CardControl::ConnectionFailed, what, reason,
                        QStringLiteral("check that the device is on and the address and port are right"));
    }
    case Outcome::TimedOut:
        detach();
        return failOpen(CardControl::ConnectTimedOut, what,
                        QStringLiteral("no answer within %1 seconds").arg(kConnectTimeoutMs / 1000),
                        QStringLiteral("check that the device is on and the address is right"));
    }
    return CardControl::ConnectionFailed;
}

void LinkConnection::attach(LinkTransport *transport)
{
    m_transport = transport;
    const quint64 generation = ++m_generation;
    // The link is torn down from the event loop, never inside the transport's own notifier.
    connect(transport, &LinkTransport::lost, this, [this, generation] { handleLost(generation); },
            Qt::QueuedConnection);
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
        m_events.closed(m_description);
    detach();
}

void LinkConnection::handleLost(quint64 generation)
{
    const LinkEventBatch batch(m_events);
    if (generation != m_generation)
        return;
    m_events.lost(m_description, m_transport ? m_transport->lostReason() : QString());
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
            m_events.dsrInactive(m_description);
        m_dsrReportedInactive = true;
        return true;
    }
    if (dsr.value_or(true) && m_dsrReportedInactive) {
        m_dsrReportedInactive = false;
        m_events.dsrActiveAgain(m_description);
    }
    return false;
}
