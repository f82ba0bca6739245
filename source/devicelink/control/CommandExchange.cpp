#include "control/CommandExchange.h"

#include "control/CardControl.h"
#include "transport/LinkTransport.h"

CommandExchange::CommandExchange(LinkEvents &events, ExchangeClock &clock, QObject *parent)
    : QObject(parent), m_events(events), m_clock(clock)
{
    m_timeout = m_clock.makeTimer(ExchangeClock::Precision::Precise, [this] { handleTimeout(); });
    m_quietGap = m_clock.makeTimer(ExchangeClock::Precision::Coarse, [this] { lineSettled(); });
}

CommandExchange::~CommandExchange() = default;

void CommandExchange::setTransport(LinkTransport *transport)
{
    if (m_transport)
        m_transport->disconnect(this);
    m_transport = transport;
    m_reader.reset();
    m_lineUnsettled = false;
    if (transport)
        connect(transport, &LinkTransport::bytesArrived, this, &CommandExchange::handleBytes);
}

void CommandExchange::begin(const CommandRequest &request)
{
    m_outcome = {};
    m_command.emplace(Command{});
    m_command->request = request;
    ++m_generation;
    m_startedAt = m_clock.nowMs();
}

void CommandExchange::announce()
{
    if (m_command->announced)
        return;
    m_command->announced = true;
    m_events.commandStarted(m_command->request);
}

void CommandExchange::start(const CommandRequest &request)
{
    begin(request);
    QByteArray body;
    body.reserve(1 + request.parameter.size());
    body.append(char(request.code));
    body.append(request.parameter);
    m_command->frame = encodeFrame(body);
    if (request.timeoutMs > 0)
        m_timeout->start(request.timeoutMs);
    if (m_lineUnsettled) {
        // The device may still be sending for the command before (see forgetCutFrame): the frame
        // goes out once the line has been quiet for a moment, within this command's time-out.
        m_command->phase = Phase::Settling;
        announce();
        m_events.settling();
        m_settleStartedAt = m_clock.nowMs();
        m_quietGap->start(kQuietGapMs);
        return;
    }
    // A failed write reports the link lost; that report ends the command from the event loop.
    sendFrame();
}

void CommandExchange::startFailed(const CommandRequest &request, qint32 errorCode)
{
    begin(request);
    announce();
    m_command->phase = Phase::Ending;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, errorCode] {
            const LinkEventBatch batch(m_events);
            if (m_command && generation == m_generation)
                finish(errorCode);
        },
        Qt::QueuedConnection);
}

void CommandExchange::abandon()
{
    if (!m_command)
        return;
    forgetCutFrame();
    finish(LinkError::Aborted);
}

void CommandExchange::end(qint32 errorCode)
{
    if (m_command)
        finish(errorCode);
}

void CommandExchange::sendFrame()
{
    m_command->phase = Phase::AwaitAck;
    ++m_command->sends;
    // The device waits for the frame: it goes out first, the record of it after.
    if (m_transport)
        m_transport->send(m_command->frame);
    if (m_command->sends == 1)
        announce();
    else
        m_events.resent(m_command->sends, kMaxSends);
    m_events.sent(FrameRole::Command, m_command->frame);
}

void CommandExchange::sendByte(char byte)
{
    if (m_transport)
        m_transport->send(QByteArrayView(&byte, 1));
}

void CommandExchange::handleBytes(const QByteArray &bytes)
{
    const LinkEventBatch batch(m_events);
    if (m_command && m_command->phase == Phase::Settling) {
        // Still the command before's: dropped unread. A line that never falls quiet holds the
        // frame back kMaxSettleMs at most.
        m_events.received(FrameRole::Dropped, bytes);
        if (m_clock.nowMs() - m_settleStartedAt < kMaxSettleMs)
            m_quietGap->start(kQuietGapMs);
        return;
    }
    const QList<FrameReader::Item> items = m_reader.feed(bytes);
    for (const FrameReader::Item &item : items)
        handleItem(item);
}

void CommandExchange::handleItem(const FrameReader::Item &item)
{
    static constexpr char kAck = Wire::ACK;
    static constexpr char kNak = Wire::NAK;
    const Phase phase = m_command ? m_command->phase : Phase::Ending;
    switch (item.kind) {
    case FrameReader::Kind::Ack:
        m_events.received(FrameRole::Ack, QByteArrayView(&kAck, 1));
        if (phase == Phase::AwaitAck)
            m_command->phase = Phase::AwaitResponse;
        break;
    case FrameReader::Kind::Nak:
        m_events.received(FrameRole::Nak, QByteArrayView(&kNak, 1));
        if (phase != Phase::AwaitAck)
            break;
        if (m_command->sends >= kMaxSends)
            finish(LinkError::Refused);
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
            sendByte(kAck);
        // Told after the ACK is out, in the order things happened on the line.
        m_events.frameReceived(phase == Phase::AwaitResponse ? FrameRole::Response : FrameRole::LateFrame, item.body);
        if (phase != Phase::AwaitAck)
            m_events.sent(FrameRole::Ack, QByteArrayView(&kAck, 1));
        if (phase == Phase::AwaitResponse)
            finish(LinkError::None, quint8(item.body.at(0)), item.body.mid(1));
        break;
    case FrameReader::Kind::BadFrame:
        // Ask again only for a frame this command waits for. A NAK for a stale frame could reach
        // the device after it has started on the next command and be taken for that one's.
        if (phase == Phase::AwaitResponse)
            sendByte(kNak);
        m_events.received(FrameRole::BadFrame, item.body);
        if (phase != Phase::AwaitResponse)
            break;
        m_events.sent(FrameRole::Nak, QByteArrayView(&kNak, 1));
        if (++m_command->badResponses >= kMaxBadResponses)
            finish(LinkError::BadResponse);
        break;
    case FrameReader::Kind::Stray:
        m_events.received(FrameRole::Stray, item.body);
        break;
    }
}

void CommandExchange::handleTimeout()
{
    const LinkEventBatch batch(m_events);
    if (!m_command)
        return;
    forgetCutFrame();
    finish(LinkError::TimedOut);
}

void CommandExchange::lineSettled()
{
    const LinkEventBatch batch(m_events);
    if (!m_command || m_command->phase != Phase::Settling)
        return;
    m_reader.reset(); // what was read while idle may have begun inside a cut frame's rest
    m_lineUnsettled = false;
    sendFrame();
}

void CommandExchange::forgetCutFrame()
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
    m_lineUnsettled = m_lineUnsettled || m_reader.inFrame() || (m_command && m_command->phase == Phase::AwaitAck);
    m_reader.reset();
}

void CommandExchange::finish(qint32 errorCode, qint32 responseCode, const QByteArray &data)
{
    m_timeout->stop();
    m_quietGap->stop();
    const quint8 code = m_command->request.code;
    m_command.reset();
    ++m_generation;
    m_outcome = CommandResult{errorCode, responseCode, data};
    m_events.commandEnded(code, m_outcome, m_clock.nowMs() - m_startedAt);
}
