#include "ReplaySession.h"

#include <QStringList>

namespace {

// How long an ACK or NAK the recording expects from the control is waited for.
constexpr int kHandshakeWaitMs = 1000;

} // namespace

// Hands the ordinary device's answers to the real link, under its name.
class ReplaySession::ForwardLink : public Link
{
public:
    explicit ForwardLink(Link *link) : m_link(link) {}
    QString name() const override { return m_link->name(); }
    void send(const QByteArray &bytes) override { m_link->send(bytes); }
    void closeAfterSending() override { m_link->closeAfterSending(); }

private:
    Link *m_link;
};

ReplaySession::ReplaySession(Link *link, ReplayGroup group, ReplayBook *book, DeviceModel *model, TraceLog *trace,
                             QObject *parent)
    : QObject(parent), m_link(link), m_group(group), m_book(book), m_trace(trace),
      m_forward(std::make_unique<ForwardLink>(link))
{
    m_fallback = std::make_unique<Session>(m_forward.get(), model, &book->noFaults(), trace, Session::Settings{});
    m_stepTimer.setSingleShot(true);
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_stepTimer, &QTimer::timeout, this, &ReplaySession::play);
    m_giveUpTimer.setSingleShot(true);
    connect(&m_giveUpTimer, &QTimer::timeout, this, &ReplaySession::giveUpWaiting);
    connect(m_link, &Link::received, this, &ReplaySession::receive);
}

ReplaySession::~ReplaySession() = default;

void ReplaySession::reset()
{
    m_stepTimer.stop();
    m_giveUpTimer.stop();
    m_playing = false;
    m_hungUp = false;
    m_handshakes.clear();
    m_reader.reset();
    m_fallback->reset();
    m_fallbackActive = false;
}

void ReplaySession::linkClosed()
{
    // A hang-up still to come is moot: the client went first.
    cutSegment(QStringLiteral("the link closed"));
    checkPlayed();
}

void ReplaySession::checkPlayed()
{
    if (!m_playing && m_group == m_book->group() && m_book->exhausted())
        emit played();
}

QString ReplaySession::hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QString ReplaySession::where(qint64 line) const
{
    return QStringLiteral("%1:%2").arg(m_book->cursor(m_group).path()).arg(line);
}

void ReplaySession::send(const QByteArray &what, const QByteArray &bytes)
{
    m_trace->bytes(m_link->name(), TraceLog::Direction::Out, what.constData(), bytes);
    m_link->send(bytes);
}

void ReplaySession::receive(const QByteArray &bytes)
{
    // The recorded device had hung up: nothing reaches it until the link is new.
    if (m_hungUp)
        return;
    for (const FrameReader::Item &item : m_reader.feed(bytes)) {
        switch (item.kind) {
        case FrameReader::Kind::Frame:
            onFrame(encodeFrame(item.body));
            break;
        case FrameReader::Kind::Ack:
        case FrameReader::Kind::Nak:
            onHandshake(item.kind == FrameReader::Kind::Ack ? Wire::ACK : Wire::NAK);
            break;
        case FrameReader::Kind::BadFrame:
        case FrameReader::Kind::Stray:
            m_trace->bytes(m_link->name(), TraceLog::Direction::In,
                           item.kind == FrameReader::Kind::BadFrame ? "bad-frame" : "garbage", item.body);
            if (m_fallbackActive)
                emit m_forward->received(item.body);
            break;
        }
    }
}

bool ReplaySession::cutSegment(const QString &cause)
{
    m_stepTimer.stop();
    m_giveUpTimer.stop();
    if (!m_playing)
        return false;
    m_playing = false;
    // What the control owed for what it had already received is missing. What the device had
    // still to send (a late answer) it abandons, as a device abandons a command for a new frame,
    // and the control's answers to that are moot: sent now, a late answer could pass for the
    // new command's. Sooner than recorded is the client's pace, not a difference.
    using Kind = ReplaySegment::Step::Kind;
    QStringList missed;
    QStringList abandoned;
    bool hangUpAhead = false;
    for (; m_next < m_segment.steps.size(); ++m_next) {
        const ReplaySegment::Step &step = m_segment.steps[m_next];
        const QString what = QStringLiteral("%1 (%2)").arg(QString::fromLatin1(step.what), where(step.line));
        if (step.kind == Kind::HangUp) {
            hangUpAhead = true;
            break;
        }
        if (step.kind == Kind::Send)
            abandoned << what;
        else if (abandoned.isEmpty())
            missed << what;
    }
    if (!missed.isEmpty())
        m_book->diverged(m_group, m_segment.command, m_link->name(),
                         QStringLiteral("%1 before the recorded %2").arg(cause, missed.join(QStringLiteral(", "))));
    if (!abandoned.isEmpty())
        m_trace->event(m_link->name(), QStringLiteral("replay: %1 first; not sent: %2")
                                           .arg(cause, abandoned.join(QStringLiteral(", "))));
    return hangUpAhead;
}

void ReplaySession::hangUp(const ReplaySegment::Step &step)
{
    m_trace->event(m_link->name(), QStringLiteral("replay: hanging up as recorded (%1)").arg(where(step.line)));
    m_playing = false;
    m_hungUp = true;
    m_link->closeAfterSending();
    checkPlayed();
}

void ReplaySession::onFrame(const QByteArray &frame)
{
    if (cutSegment(QStringLiteral("the next frame came"))) {
        // The recording lost this link before any next frame came: the frame goes unanswered,
        // and the recording's next frame waits for the next link.
        const ReplaySegment::Step &step = m_segment.steps[m_next];
        m_trace->bytes(m_link->name(), TraceLog::Direction::In, "frame", frame);
        m_book->diverged(m_group, 0, m_link->name(),
                         QStringLiteral("%1: a command frame came before the recorded loss of the link: received %2")
                             .arg(where(step.line), hex(frame)));
        hangUp(step);
        return;
    }
    m_handshakes.clear();
    ReplayCursor &cursor = m_book->cursor(m_group);
    // A new connection is the recording's next session: what a connection before left unplayed
    // is not replayed.
    if (m_group == ReplayGroup::Tcp && !m_tookSegment)
        cursor.skipRestOfSession();
    m_tookSegment = true;
    const bool recorded = cursor.next(&m_segment);
    if (recorded)
        m_book->reached(m_group, m_segment.command);
    if (recorded && m_segment.frame == frame) {
        m_trace->bytes(m_link->name(), TraceLog::Direction::In, "frame", frame);
        if (m_fallbackActive)
            m_fallback->reset();
        m_fallbackActive = false;
        m_playing = true;
        m_next = 0;
        m_previousMs = m_segment.frameMs;
        play();
        return;
    }
    m_book->diverged(m_group, recorded ? m_segment.command : 0, m_link->name(),
                     recorded ? QStringLiteral("%1: the command frame differs from the recording: expected %2, received %3")
                                    .arg(where(m_segment.frameLine), hex(m_segment.frame), hex(frame))
                              : QStringLiteral("%1: a command frame after the end of the recording: received %2")
                                    .arg(cursor.path(), hex(frame)));
    m_fallbackActive = true;
    emit m_forward->received(frame);
    checkPlayed();
}

void ReplaySession::onHandshake(char byte)
{
    if (m_fallbackActive) {
        emit m_forward->received(QByteArray(1, byte));
        return;
    }
    m_trace->bytes(m_link->name(), TraceLog::Direction::In, byte == Wire::ACK ? "ACK" : "NAK", QByteArray(1, byte));
    if (!m_playing) {
        m_book->diverged(m_group, m_segment.command, m_link->name(),
                         QStringLiteral("an %1 that the recording does not have").arg(byte == Wire::ACK ? u"ACK" : u"NAK"));
        return;
    }
    m_handshakes += byte;
    if (m_giveUpTimer.isActive()) {
        m_giveUpTimer.stop();
        play();
    }
}

void ReplaySession::giveUpWaiting()
{
    const ReplaySegment::Step &step = m_segment.steps[m_next];
    m_book->diverged(m_group, m_segment.command, m_link->name(),
                     QStringLiteral("%1: the recorded %2 from the control did not come")
                         .arg(where(step.line), QString::fromLatin1(step.what)));
    ++m_next;
    play();
}

void ReplaySession::play()
{
    using Kind = ReplaySegment::Step::Kind;
    while (m_playing && m_next < m_segment.steps.size()) {
        const ReplaySegment::Step &step = m_segment.steps[m_next];
        if (step.kind == Kind::Expect) {
            if (m_handshakes.isEmpty()) {
                m_giveUpTimer.start(kHandshakeWaitMs);
                return;
            }
            const char came = m_handshakes.front();
            m_handshakes.remove(0, 1);
            if (came != step.bytes.front())
                m_book->diverged(m_group, m_segment.command, m_link->name(),
                                 QStringLiteral("%1: the recording has %2 from the control, %3 came")
                                     .arg(where(step.line), QString::fromLatin1(step.what),
                                          came == Wire::ACK ? u"ACK" : u"NAK"));
            m_previousMs = step.atMs;
            ++m_next;
            continue;
        }
        const qint64 delay = step.atMs - m_previousMs;
        if (delay > 0 && !m_stepTimer.isActive()) {
            m_previousMs = step.atMs;
            m_stepTimer.start(int(qMin<qint64>(delay, 24 * 3600 * 1000)));
            return;
        }
        m_stepTimer.stop();
        m_previousMs = step.atMs;
        ++m_next;
        if (step.kind == Kind::HangUp) {
            hangUp(step);
            return;
        }
        send(step.what, step.bytes);
    }
    if (m_next >= m_segment.steps.size()) {
        m_playing = false;
        checkPlayed();
    }
}
