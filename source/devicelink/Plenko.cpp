#include "Plenko.h"

#include "LinkTransport.h"
#include "ModemLines.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

#include <QEventLoop>
#include <QPointer>

Plenko::Plenko(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    // A coarse timer may fire 5 % late, a second and a half on a 30-second command.
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &Plenko::handleTimeout);
    m_quietGap.setSingleShot(true);
    connect(&m_quietGap, &QTimer::timeout, this, &Plenko::lineSettled);
}

Plenko::~Plenko()
{
    interruptConnectWait();
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        delete m_transport;
        m_transport = nullptr;
    }
}

QVariant Plenko::Version()
{
    return kVersion;
}

QVariant Plenko::CommStatus()
{
    switch (m_link) {
    case Link::None:
    case Link::Connecting:
        return LinkStatus::NoLink;
    case Link::Open:
        return LinkStatus::Open;
    case Link::Started:
        return m_command ? LinkStatus::Busy : LinkStatus::Idle;
    }
    return LinkStatus::NoLink;
}

QVariant Plenko::ErrorCode()
{
    return m_errorCode;
}

QVariant Plenko::ResponseCode()
{
    return m_responseCode;
}

QVariant Plenko::ResponseData()
{
    return m_responseData;
}

QString Plenko::serialPathFor(qint32 port)
{
    const QString configured = qEnvironmentVariable(qPrintable(QStringLiteral("PLENKO_COM%1").arg(port)));
    if (!configured.isEmpty())
        return configured;
    return QStringLiteral("/dev/ttyS%1").arg(qint64(port) - 1);
}

qint32 Plenko::baudRateFor(qint32 speedCode)
{
    switch (speedCode) {
    case 0: return 9600; // no speed chosen yet
    case 1: return 19200;
    case 2: return 9600;
    case 3: return 4800;
    case 4: return 2400;
    case 5: return 38400;
    default: return 0;
    }
}

quint16 Plenko::tcpPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("PLENKO_TCP_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : kDefaultTcpPort;
}

QVariant Plenko::OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4)
{
    if (m_link != Link::None)
        return AlreadyOpen;
    if (arg3 == 1 && arg4 == 1)
        return openSerial(portOrAddress, speedCode);
    if (speedCode == -1 && arg3 == -1 && arg4 == -1)
        return openNetwork(quint32(portOrAddress));
    return ArgumentsNotUnderstood;
}

qint32 Plenko::openSerial(qint32 port, qint32 speedCode)
{
    if (port < 1)
        return NoSuchPort;
    const qint32 baudRate = baudRateFor(speedCode);
    if (baudRate == 0)
        return ArgumentsNotUnderstood;
    auto *serial = new SerialTransport(this);
    switch (serial->open(serialPathFor(port), baudRate)) {
    case SerialTransport::OpenResult::Opened:
        break;
    case SerialTransport::OpenResult::NoSuchPort:
        delete serial;
        return NoSuchPort;
    case SerialTransport::OpenResult::CannotOpen:
        delete serial;
        return CannotOpen;
    }
    attach(serial);
    m_link = Link::Open;
    return Opened;
}

// The wait for the connection runs a local event loop, so other handlers of the window run
// during it and may call the control again:
// - OpenLink answers AlreadyOpen, SendCommand LinkNotStarted, StartLink NothingOpen, CommStatus 0;
// - CloseLink abandons the attempt: this call returns ConnectInterrupted without touching the
//   link, so a later OpenLink from the same handler may open another link meanwhile;
// - the control may even be destroyed: this call then returns without touching it.
// The socket is never deleted while this frame could still refer to it: a torn-down transport
// goes through deleteLater(), and this frame looks only at its own ConnectWait afterwards.
qint32 Plenko::openNetwork(quint32 address)
{
    auto *tcp = new TcpTransport(this);
    attach(tcp);
    m_link = Link::Connecting;
    const quint64 generation = m_linkGeneration;

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
    tcp->connectTo(address, tcpPort());

    QPointer<Plenko> self(this);
    if (wait.outcome == Outcome::Pending)
        loop.exec();
    if (!self)
        return ConnectInterrupted;
    if (m_connectWait == &wait)
        m_connectWait = nullptr;

    switch (wait.outcome) {
    case Outcome::Connected:
        // A handler that ran in the loop's last turn may have waited in turn while the peer hung
        // up; the link's loss has then been handled already and nothing is left to open.
        if (m_linkGeneration != generation || m_link != Link::Connecting)
            return ConnectionFailed;
        m_link = Link::Open;
        return Opened;
    case Outcome::Interrupted:
        // CloseLink ran during the wait and has torn this attempt down already.
        return ConnectInterrupted;
    case Outcome::Pending: // the application quit every event loop
        detach();
        return ConnectInterrupted;
    case Outcome::Refused:
    case Outcome::Failed:
        detach();
        return ConnectionFailed;
    case Outcome::TimedOut:
        detach();
        return ConnectTimedOut;
    }
    return ConnectionFailed;
}

void Plenko::attach(LinkTransport *transport)
{
    m_transport = transport;
    const quint64 generation = ++m_linkGeneration;
    m_reader.reset();
    connect(transport, &LinkTransport::bytesArrived, this, &Plenko::handleBytes);
    // The link is torn down from the event loop, never inside the transport's own notifier.
    connect(transport, &LinkTransport::lost, this, [this, generation] { handleLinkLost(generation); },
            Qt::QueuedConnection);
}

void Plenko::detach()
{
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        m_transport->deleteLater();
        m_transport = nullptr;
    }
    ++m_linkGeneration;
    m_reader.reset();
    m_lineUnsettled = false;
    m_link = Link::None;
}

void Plenko::interruptConnectWait()
{
    if (!m_connectWait)
        return;
    // Overrides whatever else was reported: CloseLink has torn the attempt down.
    m_connectWait->outcome = ConnectWait::Outcome::Interrupted;
    m_connectWait->loop->quit();
    m_connectWait = nullptr;
}

QVariant Plenko::CloseLink()
{
    if (m_command)
        endCommand(LinkError::Aborted);
    interruptConnectWait();
    detach();
    return 0;
}

QVariant Plenko::StartLink(qint32 mode)
{
    Q_UNUSED(mode);
    if (m_link == Link::Open)
        m_link = Link::Started;
    return m_link == Link::Started ? Started : NothingOpen;
}

QVariant Plenko::StopLink()
{
    if (m_command) {
        forgetCutFrame();
        endCommand(LinkError::Aborted);
    }
    if (m_link == Link::Started)
        m_link = Link::Open;
    return 0;
}

QVariant Plenko::SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck)
{
    if (m_command)
        return CommandRunning;
    if (m_link != Link::Started)
        return LinkNotStarted;
    if (code < 0 || code > 255)
        return CodeOutOfRange;
    if (parameter.size() > kMaxParameter)
        return ParameterTooLong;

    m_errorCode = LinkError::None;
    m_responseCode = 0;
    m_responseData.clear();
    m_command.emplace();
    ++m_commandGeneration;

    if (dsrCheck) {
        ModemLines *lines = m_transport->modemLines(); // nullptr over TCP: the flag does not apply
        if (lines && m_modemLinesOverride)
            lines = m_modemLinesOverride;
        if (lines) {
            const std::optional<bool> dsr = lines->dsrActive();
            if (dsr.has_value() && !*dsr) {
                // Nothing goes out; the end still comes from the event loop, like any other.
                endCommandLater(LinkError::DsrInactive);
                return Accepted;
            }
        }
    }

    QByteArray body;
    body.reserve(1 + parameter.size());
    body.append(char(quint8(code)));
    body.append(parameter);
    m_command->frame = encodeFrame(body);
    if (timeoutMs > 0)
        m_timeout.start(timeoutMs);
    if (m_lineUnsettled) {
        // The device may still be sending for the command before (see forgetCutFrame): the frame
        // goes out once the line has been quiet for a moment, within this command's time-out.
        m_command->phase = Phase::Settling;
        m_settleClock.start();
        m_quietGap.start(kQuietGapMs);
        return Accepted;
    }
    // A failed write reports the link lost; that report ends the command from the event loop.
    sendFrame();
    return Accepted;
}

QVariant Plenko::AbortCommand()
{
    if (m_command) {
        forgetCutFrame();
        endCommand(LinkError::Aborted);
    }
    return 0;
}

void Plenko::sendFrame()
{
    m_command->phase = Phase::AwaitAck;
    ++m_command->sends;
    m_transport->send(m_command->frame);
}

void Plenko::sendByte(char byte)
{
    if (m_transport)
        m_transport->send(QByteArrayView(&byte, 1));
}

void Plenko::handleBytes(const QByteArray &bytes)
{
    if (m_command && m_command->phase == Phase::Settling) {
        // Still the command before's: dropped unread. A line that never falls quiet holds the
        // frame back kMaxSettleMs at most.
        if (m_settleClock.elapsed() < kMaxSettleMs)
            m_quietGap.start(kQuietGapMs);
        return;
    }
    const QList<FrameReader::Item> items = m_reader.feed(bytes);
    for (const FrameReader::Item &item : items)
        handleItem(item);
}

void Plenko::handleItem(const FrameReader::Item &item)
{
    const Phase phase = m_command ? m_command->phase : Phase::Ending;
    switch (item.kind) {
    case FrameReader::Kind::Ack:
        if (phase == Phase::AwaitAck)
            m_command->phase = Phase::AwaitResponse;
        break;
    case FrameReader::Kind::Nak:
        if (phase != Phase::AwaitAck)
            break;
        if (m_command->sends >= kMaxSends)
            endCommand(LinkError::Refused);
        else
            sendFrame();
        break;
    case FrameReader::Kind::Frame:
        // Only a frame that follows this command's ACK answers it: the device writes in order, so
        // an earlier, abandoned command's response comes before. A stale frame is acknowledged
        // only while no command is out: once this command's frame has gone out, the device drops
        // the stale answer when it reads that frame, and an ACK sent now could reach it after it
        // has sent this command's response, be taken for that one's and stop a resend it owes.
        if (phase != Phase::AwaitAck)
            sendByte(Wire::ACK);
        if (phase == Phase::AwaitResponse)
            endCommand(LinkError::None, quint8(item.body.at(0)), item.body.mid(1));
        break;
    case FrameReader::Kind::BadFrame:
        // Ask again only for a frame this command waits for. A NAK for a stale frame could reach
        // the device after it has started on the next command and be taken for that one's.
        if (phase != Phase::AwaitResponse)
            break;
        sendByte(Wire::NAK);
        if (++m_command->badResponses >= kMaxBadResponses)
            endCommand(LinkError::BadResponse);
        break;
    }
}

void Plenko::handleLinkLost(quint64 linkGeneration)
{
    if (linkGeneration != m_linkGeneration)
        return;
    if (m_command)
        endCommand(LinkError::LinkLost);
    detach();
}

void Plenko::handleTimeout()
{
    if (!m_command)
        return;
    forgetCutFrame();
    endCommand(LinkError::TimedOut);
}

void Plenko::lineSettled()
{
    if (!m_command || m_command->phase != Phase::Settling)
        return;
    m_reader.reset(); // what was read while idle may have begun inside a cut frame's rest
    m_lineUnsettled = false;
    sendFrame();
}

void Plenko::forgetCutFrame()
{
    // Called as a command is given up, before it ends. The response may be half-way through, or
    // cut short for good (a length that promised more than came); either way it must not swallow
    // the next one, so reading starts afresh. Its rest may still arrive as loose bytes: an STX
    // among them (in the data, or as the checksum) would start a false frame that swallows the
    // next answer, an ACK or NAK byte would be taken for the next command's. And when the ACK
    // itself has not come, it may be held up on the line together with the answer, and the two
    // would be taken for the next command's. The frames cannot tell these apart from the next
    // command's traffic; so the next frame waits until the line has been quiet for a moment.
    // After a normal ending, or a time-out while the ACK was in and nothing arriving, nothing
    // waits.
    m_lineUnsettled = m_lineUnsettled || m_reader.inFrame()
                      || (m_command && m_command->phase == Phase::AwaitAck);
    m_reader.reset();
}

void Plenko::endCommand(qint32 errorCode, qint32 responseCode, const QByteArray &data)
{
    m_timeout.stop();
    m_quietGap.stop();
    m_command.reset();
    ++m_commandGeneration;
    m_errorCode = errorCode;
    m_responseCode = responseCode;
    m_responseData = data;
}

void Plenko::endCommandLater(qint32 errorCode)
{
    m_command->phase = Phase::Ending;
    const quint64 generation = m_commandGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, errorCode] {
            if (m_command && generation == m_commandGeneration)
                endCommand(errorCode);
        },
        Qt::QueuedConnection);
}
