#include "ReplayRecording.h"

namespace {

// A device that spews for long between two frames: what comes after this many steps is left out
// of the replay, so that memory stays bounded.
constexpr qsizetype kMaxSteps = 100000;

ReplayGroup groupOf(QByteArrayView link, bool *known)
{
    // A serial link is "com1" to "com9", or "device" for one named by its path (kestra-send --device).
    *known = link == "tcp" || link == "device"
             || (link.size() == 4 && link.startsWith("com") && link[3] >= '1' && link[3] <= '9');
    return link == "tcp" ? ReplayGroup::Tcp : ReplayGroup::Pty;
}

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

bool ReplayCursor::inGroup(QByteArrayView link) const
{
    bool known = false;
    return groupOf(link, &known) == m_group && known;
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
        if (inGroup(m_line.link))
            return true;
    }
}

bool ReplayCursor::next(ReplaySegment *segment)
{
    // Finds the next frame line, unless the last call has read it ahead.
    while (!m_haveLine) {
        if (!readLine())
            return false;
        if (!m_line.isBytes() && m_line.kind == Journal::Kind::Command)
            ++m_commands;
        m_haveLine = m_line.kind == Journal::Kind::CommandFrame;
    }
    m_haveLine = false;
    *segment = ReplaySegment();
    segment->frame = m_reader.bytes();
    segment->frameMs = m_line.msecs;
    segment->frameLine = m_reader.lineNumber();
    segment->command = m_commands;
    while (readLine()) {
        using Kind = ReplaySegment::Step::Kind;
        const JournalLine &line = m_line;
        if (!line.isBytes()) {
            if (line.kind == Journal::Kind::Command)
                ++m_commands;
            else if (line.kind == Journal::Kind::Settle)
                addCutFrame(segment);
            else if (line.kind == Journal::Kind::Lost && segment->steps.size() < kMaxSteps)
                segment->steps.append({Kind::HangUp, {}, "lost", line.msecs, m_reader.lineNumber()});
            continue;
        }
        if (line.kind == Journal::Kind::CommandFrame) {
            m_haveLine = true;
            break;
        }
        if (segment->steps.size() >= kMaxSteps)
            continue;
        const Kind kind = line.direction == JournalLine::Direction::In ? Kind::Send : Kind::Expect;
        segment->steps.append({kind, m_reader.bytes(), line.word.toByteArray(), line.msecs, m_reader.lineNumber()});
    }
    return true;
}

bool checkReplayJournal(const QString &path, ReplayTotals *totals, QString *error)
{
    JournalReader reader(JournalReader::Mode::Strict);
    if (!reader.open(path, error))
        return false;
    // A command counts once its first frame goes out; a command that sent nothing (DSR off,
    // refused) never reaches the device.
    bool counted[2] = {true, true};
    JournalLine line;
    qint64 lines = 0;
    while (reader.next(&line)) {
        ++lines;
        bool known = false;
        const ReplayGroup group = groupOf(line.link, &known);
        if (!known)
            continue;
        bool &done = counted[group == ReplayGroup::Tcp ? 0 : 1];
        if (!line.isBytes() && line.kind == Journal::Kind::Command) {
            done = false;
        } else if (!done && line.kind == Journal::Kind::CommandFrame) {
            done = true;
            ++(group == ReplayGroup::Tcp ? totals->tcpCommands : totals->ptyCommands);
        }
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    if (lines == 0) {
        *error = QStringLiteral("%1: no journal lines to replay").arg(path);
        return false;
    }
    return true;
}
