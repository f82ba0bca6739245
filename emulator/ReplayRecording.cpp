#include "ReplayRecording.h"

namespace {

// A device that spews for long between two frames: what comes after this many steps is left out
// of the replay, so that memory stays bounded.
constexpr qsizetype kMaxSteps = 100000;

// The journal keeps no record of a frame that was still coming in when its command was given
// up: the control drops its bytes unread. It shows only in the settle that follows, when the
// device had acknowledged the command. There the replay sends the start of a frame that never
// ends, so that the control is again caught half-way through a frame and waits the same way.
void addCutFrame(ReplaySegment *segment)
{
    using Kind = ReplaySegment::Step::Kind;
    bool acknowledged = false;
    for (const ReplaySegment::Step &step : segment->steps) {
        if (step.kind != Kind::Send)
            continue;
        if (step.what == "ACK")
            acknowledged = true;
        else if (step.what == "response" || step.what == "bad-frame" || step.what == "late-frame")
            acknowledged = false;
    }
    if (!acknowledged || segment->steps.isEmpty())
        return;
    const ReplaySegment::Step &last = segment->steps.constLast();
    segment->steps.append({Kind::Send, QByteArray::fromHex("020010"), "cut-frame", last.atMs, last.line});
}

} // namespace

ReplayGroup replayGroupOf(QByteArrayView link, bool *known)
{
    // A serial link is "com1" to "com9", or "device" for one named by its path (kestra-send --device).
    *known = link == "tcp" || link == "device"
             || (link.size() == 4 && link.startsWith("com") && link[3] >= '1' && link[3] <= '9');
    return link == "tcp" ? ReplayGroup::Tcp : ReplayGroup::Pty;
}

bool ReplayCursor::taken(const JournalLine &line) const
{
    const size_t session = size_t(line.sessionNumber);
    if (session == 0 || session >= m_chosen->size() || !(*m_chosen)[session])
        return false;
    bool known = false;
    return replayGroupOf(line.link, &known) == m_group && known;
}

bool ReplayCursor::readLine()
{
    if (m_ended)
        return false;
    if (!m_opened) {
        QString error;
        m_opened = true;
        if (!m_reader.open(m_path, &error)) {
            m_ended = true;
            return false;
        }
    }
    for (;;) {
        if (!m_reader.next(&m_line)) {
            m_ended = true;
            return false;
        }
        if (taken(m_line))
            return true;
    }
}

bool ReplayCursor::findFrame()
{
    while (!m_haveLine) {
        if (!readLine())
            return false;
        if (!m_line.isBytes() && m_line.kind == Journal::Kind::Command)
            ++m_commands;
        m_haveLine = m_line.isBytes() && m_line.kind == Journal::Kind::CommandFrame;
    }
    return true;
}

bool ReplayCursor::hasNext()
{
    return findFrame();
}

void ReplayCursor::skipRestOfSession()
{
    ReplaySegment dropped;
    while (m_lastSession != 0 && findFrame() && m_line.sessionNumber == m_lastSession)
        next(&dropped);
}

bool ReplayCursor::next(ReplaySegment *segment)
{
    if (!findFrame())
        return false;
    m_haveLine = false;
    *segment = ReplaySegment();
    segment->frame = m_reader.bytes();
    segment->frameMs = m_line.msecs;
    segment->frameLine = m_reader.lineNumber();
    segment->command = m_commands;
    segment->session = m_lastSession = m_line.sessionNumber;
    // After a loss the link carries nothing more: what follows belongs to the next session.
    bool hungUp = false;
    while (readLine()) {
        using Kind = ReplaySegment::Step::Kind;
        const JournalLine &line = m_line;
        if (!line.isBytes()) {
            if (line.kind == Journal::Kind::Command)
                ++m_commands;
            else if (line.kind == Journal::Kind::Settle && !hungUp)
                addCutFrame(segment);
            else if (line.kind == Journal::Kind::Lost && !hungUp && segment->steps.size() < kMaxSteps) {
                segment->steps.append({Kind::HangUp, {}, "lost", line.msecs, m_reader.lineNumber()});
                hungUp = true;
            }
            continue;
        }
        if (line.kind == Journal::Kind::CommandFrame) {
            m_haveLine = true;
            break;
        }
        if (hungUp || segment->steps.size() >= kMaxSteps)
            continue;
        const Kind kind = line.direction == JournalLine::Direction::In ? Kind::Send : Kind::Expect;
        segment->steps.append({kind, m_reader.bytes(), line.word.toByteArray(), line.msecs, m_reader.lineNumber()});
    }
    return true;
}

ReplayCheck checkReplayJournal(const QString &path, const SessionChoice &choice, ReplayPlan *plan, QString *error)
{
    JournalReader reader(JournalReader::Mode::Strict);
    if (!reader.open(path, error))
        return ReplayCheck::Unreadable;
    SessionTable table;
    // Per session: the commands that put a frame on the wire. A command counts once its first
    // frame goes out; one that sent nothing (DSR off, refused) never reaches the device.
    std::vector<int> wireCommands{0};
    std::vector<bool> counted{true};
    JournalLine line;
    while (reader.next(&line)) {
        if (!table.add(line, reader.lineNumber())) {
            *error = reader.where() + QStringLiteral("more than %1 sessions in one journal").arg(SessionTable::kMaxSessions);
            return ReplayCheck::Unreadable;
        }
        const size_t session = size_t(line.sessionNumber);
        if (session >= wireCommands.size()) {
            wireCommands.resize(session + 1, 0);
            counted.resize(session + 1, true);
        }
        if (!line.isBytes() && line.kind == Journal::Kind::Command) {
            counted[session] = false;
        } else if (!counted[session] && line.isBytes() && line.kind == Journal::Kind::CommandFrame) {
            counted[session] = true;
            ++wireCommands[session];
        }
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return ReplayCheck::Unreadable;
    }
    if (reader.linesRead() == 0) {
        *error = QStringLiteral("%1: no journal lines to replay").arg(path);
        return ReplayCheck::Unreadable;
    }
    QString reason;
    if (!chooseSessions(table.sessions(), choice, &plan->chosen, &reason)) {
        *error = QStringLiteral("%1: %2").arg(path, reason);
        return ReplayCheck::Refused;
    }
    plan->link = choice.link;
    plan->commands = 0;
    for (const SessionInfo &session : table.sessions()) {
        if (!plan->chosen[size_t(session.number)])
            continue;
        plan->link = session.link; // the chosen sessions share their link
        plan->commands += wireCommands[size_t(session.number)];
    }
    // With nothing to replay the group is of no matter; TCP, where a client is most likely.
    bool known = false;
    plan->group = plan->link.isEmpty() ? ReplayGroup::Tcp : replayGroupOf(plan->link, &known);
    if (!known && !plan->link.isEmpty()) {
        *error = QStringLiteral("%1: the chosen sessions are on the link %2, which kestra-emu does not replay "
                                "(tcp, com1 to com9, device)")
                     .arg(path, QString::fromUtf8(plan->link));
        return ReplayCheck::Refused;
    }
    return ReplayCheck::Ready;
}
