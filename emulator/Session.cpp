#include "Session.h"

#include "protocol/Frame.h"
#include "Link.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kMaxSends = 3;

// Junk that a noisy line might put before a frame. It holds no STX, ACK or NAK, so a receiver
// that skips bytes outside frames loses nothing.
const QByteArray kJunk = QByteArray::fromHex("ff00a5 5a 7f 30 31 0d 0a 80 fe");

QByteArray withBadChecksum(QByteArray frame)
{
    frame[frame.size() - 1] = char(frame.back() ^ 0x5A);
    return frame;
}

// A frame whose LEN promises more bytes than follow.
QByteArray withLongLength(QByteArray frame)
{
    const int length = (quint8(frame[1]) << 8) | quint8(frame[2]);
    if (length + 16 <= Wire::kMaxBody) {
        const int promised = length + 16;
        frame[1] = char((promised >> 8) & 0xFF);
        frame[2] = char(promised & 0xFF);
        return frame;
    }
    return frame.left(frame.size() - 16); // already as long as LEN can say: cut the tail
}

QString hexCode(quint8 code)
{
    return QStringLiteral("0x%1").arg(code, 2, 16, QLatin1Char('0'));
}

} // namespace

Session::Session(Link *link, DeviceModel *model, FaultPolicy *faults, TraceLog *trace, Settings settings,
                 QObject *parent)
    : QObject(parent), m_link(link), m_model(model), m_faults(faults), m_trace(trace), m_settings(settings)
{
    m_operationTimer.setSingleShot(true);
    m_operationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_operationTimer, &QTimer::timeout, this, &Session::finishOperation);
    m_ackTimer.setSingleShot(true);
    connect(&m_ackTimer, &QTimer::timeout, this, [this] {
        m_trace->event(m_link->name(), QStringLiteral("no ACK for the response to %1: dropped").arg(hexCode(m_code)));
        m_state = State::Idle;
    });
    connect(m_link, &Link::received, this, &Session::receive);
}

void Session::reset()
{
    m_operationTimer.stop();
    m_ackTimer.stop();
    m_state = State::Idle;
    m_splitter.reset();
}

void Session::send(const char *kind, const QByteArray &bytes)
{
    m_trace->bytes(m_link->name(), TraceLog::Direction::Out, kind, bytes);
    m_link->send(bytes);
}

void Session::receive(const QByteArray &bytes)
{
    for (const StreamSplitter::Piece &piece : m_splitter.feed(bytes)) {
        m_trace->bytes(m_link->name(), TraceLog::Direction::In, kindName(piece.kind), piece.raw);
        switch (piece.kind) {
        case StreamSplitter::Kind::Frame:
            onCommand(piece.body);
            break;
        case StreamSplitter::Kind::BadFrame:
            // A silent device does not even refuse.
            if (m_faults->plan().mode != FaultMode::Silent)
                send("NAK", QByteArray(1, Wire::NAK));
            break;
        case StreamSplitter::Kind::Ack:
            if (m_state == State::AwaitingAck) {
                m_ackTimer.stop();
                m_state = State::Idle;
            }
            break;
        case StreamSplitter::Kind::Nak:
            if (m_state == State::AwaitingAck) {
                m_ackTimer.stop();
                if (m_sends < kMaxSends) {
                    sendResponse();
                } else {
                    m_trace->event(m_link->name(),
                                   QStringLiteral("response to %1 refused three times: given up").arg(hexCode(m_code)));
                    m_state = State::Idle;
                }
            }
            break;
        case StreamSplitter::Kind::Garbage:
            break;
        }
    }
}

void Session::abandon(const char *why)
{
    m_trace->event(m_link->name(), QStringLiteral("command %1 abandoned: %2").arg(hexCode(m_code), QLatin1String(why)));
    m_operationTimer.stop();
    m_ackTimer.stop();
    m_state = State::Idle;
}

void Session::onCommand(const QByteArray &body)
{
    if (m_state == State::Working)
        abandon("a new command arrived while it ran");
    else if (m_state == State::AwaitingAck)
        abandon("a new command arrived before its response was acknowledged");

    m_frameNumber = ++m_framesReceived;
    m_fault = m_faults->nextCommand();
    if (m_faults->mixed())
        m_trace->event(m_link->name(), QStringLiteral("command #%1 %2 fault %3")
                                           .arg(m_frameNumber)
                                           .arg(hexCode(quint8(body[0])), faultText(m_fault)));
    if (m_fault.mode == FaultMode::Silent)
        return;
    if (m_fault.mode == FaultMode::Nak) {
        send("NAK", QByteArray(1, Wire::NAK));
        return;
    }
    send("ACK", QByteArray(1, Wire::ACK));

    m_code = quint8(body[0]);
    m_parameter = body.mid(1);
    qint64 ms = std::llround(m_model->operationMs(m_code, m_parameter) * m_settings.timeScale);
    if (m_fault.mode == FaultMode::Late)
        ms += m_fault.lateMs;
    m_state = State::Working;
    m_operationTimer.start(int(qBound<qint64>(0, ms, qint64(std::numeric_limits<int>::max()))));
}

void Session::finishOperation()
{
    const DeviceModel::Outcome outcome = m_model->execute(m_code, m_parameter);
    QByteArray body;
    body.reserve(1 + 5 + outcome.data.size());
    body.append(char(outcome.status));
    if (m_settings.answerIds) {
        for (int shift = 24; shift >= 0; shift -= 8)
            body.append(char((m_frameNumber >> shift) & 0xFF));
        body.append(char(m_code));
    }
    body.append(outcome.data.left(Wire::kMaxBody - body.size()));
    m_response = encodeFrame(body);
    m_parameter.clear();
    m_sends = 0;
    sendResponse();
}

void Session::sendResponse()
{
    ++m_sends;
    switch (m_fault.mode) {
    case FaultMode::Partial:
        send("partial", m_response.left(m_response.size() / 2));
        m_state = State::Idle;
        return;
    case FaultMode::CloseMid:
        send("partial", m_response.left(m_response.size() / 2));
        m_state = State::Idle;
        m_trace->event(m_link->name(), QStringLiteral("hanging up in the middle of a response"));
        m_link->closeAfterSending();
        return;
    case FaultMode::ShortLen:
        send("short-frame", withLongLength(m_response));
        m_state = State::Idle;
        return;
    case FaultMode::Garbage:
        send("garbage", kJunk);
        send("frame", m_response);
        break;
    case FaultMode::BadBccOnce:
        if (m_sends == 1)
            send("bad-frame", withBadChecksum(m_response));
        else
            send("frame", m_response);
        break;
    case FaultMode::BadBcc:
        send("bad-frame", withBadChecksum(m_response));
        break;
    default:
        send("frame", m_response);
        break;
    }
    m_state = State::AwaitingAck;
    m_ackTimer.start(m_settings.ackWaitMs);
}
