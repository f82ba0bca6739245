#include "SoakCheck.h"

#include "control/CardControl.h"

#include <QSet>

namespace {

// The ErrorCodes that the device's behaviour towards a command's frames allows. A NAK makes the
// control send the frame again, so only the last frame decides, unless all three were refused.
QSet<int> allowedOutcomes(const QList<const TracedFrame *> &frames)
{
    if (frames.isEmpty())
        return {LinkError::LinkLost}; // the link was gone before the frame could go out
    bool allNak = true;
    for (const TracedFrame *frame : frames)
        allNak = allNak && frame->fault == QLatin1String("nak");
    if (allNak && frames.size() >= 3)
        return {LinkError::Refused};
    const QString fault = frames.last()->fault;
    if (fault == QLatin1String("none") || fault == QLatin1String("garbage") || fault == QLatin1String("bad-bcc-once"))
        return {LinkError::None};
    if (fault.startsWith(QLatin1String("late:")))
        return {LinkError::None, LinkError::TimedOut}; // the answer lands on either side of the time-out
    if (fault == QLatin1String("silent") || fault == QLatin1String("partial") || fault == QLatin1String("short-len"))
        return {LinkError::TimedOut};
    if (fault == QLatin1String("bad-bcc"))
        return {LinkError::BadResponse};
    if (fault == QLatin1String("close-mid")) // the pty hangs up once the half frame is read, maybe after the time-out
        return {LinkError::LinkLost, LinkError::TimedOut};
    return {}; // a NAK that was not answered by a resend
}

QString describe(const QList<const TracedFrame *> &frames)
{
    QStringList parts;
    for (const TracedFrame *frame : frames)
        parts << QStringLiteral("#%1 %2").arg(frame->number).arg(frame->fault);
    return parts.isEmpty() ? QStringLiteral("no frame") : parts.join(QLatin1String(", "));
}

} // namespace

SoakVerdict checkSoak(const std::vector<CommandRecord> &records, const SoakTrace &trace, int timeoutMs,
                      int slackMs, int maxCases)
{
    SoakVerdict verdict;
    verdict.commands = int(records.size());
    const auto framesOf = [&trace](qint64 index) {
        QList<const TracedFrame *> frames;
        for (int at : trace.framesOfTag.value(index))
            frames.append(&trace.frames[at]);
        return frames;
    };

    for (qint64 index = 0; index < qint64(records.size()); ++index) {
        const CommandRecord &record = records[size_t(index)];
        const QList<const TracedFrame *> frames = framesOf(index);
        QString fault = frames.isEmpty() ? QStringLiteral("no frame") : frames.last()->fault;
        if (fault.startsWith(QLatin1String("late:")))
            fault = QStringLiteral("late");
        ++verdict.faults[fault];
        if (record.sendResult != 0) {
            ++verdict.outcomes[QStringLiteral("refused %1").arg(record.sendResult)];
            ++verdict.table[fault][QStringLiteral("refused %1").arg(record.sendResult)];
            ++verdict.disallowed;
            continue;
        }
        ++verdict.outcomes[QString::number(record.errorCode)];
        ++verdict.table[fault][QString::number(record.errorCode)];

        QStringList problems;
        if (record.elapsedMs > timeoutMs + slackMs) {
            ++verdict.tooSlow;
            problems << QStringLiteral("took %1 ms").arg(record.elapsedMs);
        }
        QSet<int> allowed = allowedOutcomes(frames);
        if (index > 0) {
            // A pty hang-up that came after its command's time-out falls into this command.
            const QList<const TracedFrame *> previousFrames = framesOf(index - 1);
            if (!previousFrames.isEmpty() && previousFrames.last()->fault == QLatin1String("close-mid")
                && records[size_t(index - 1)].errorCode != LinkError::LinkLost)
                allowed.insert(LinkError::LinkLost);
        }
        if (!allowed.contains(record.errorCode)) {
            ++verdict.disallowed;
            problems << QStringLiteral("ErrorCode %1 not allowed").arg(record.errorCode);
        }
        if (record.errorCode == LinkError::None) {
            // The answer names the frame it was sent for; that frame must be one of this command's.
            const int link = frames.isEmpty() ? -1 : frames.last()->link;
            const int at = trace.frameAt.value({link, quint32(qMax<qint64>(0, record.answerNumber))}, -1);
            const qint64 owner = at < 0 ? -1 : trace.frames[at].tag;
            if (owner != index || record.answerCode != record.code) {
                ++verdict.misattributed;
                problems << QStringLiteral("the answer is frame #%1's, command %2's").arg(record.answerNumber).arg(owner);
            }
        }
        if (problems.isEmpty())
            continue;

        // The two interleavings the frames cannot tell apart both follow a command that timed out
        // while the device had put (part of) its answer on the line: a late ACK with its answer,
        // or the rest of a cut frame, then arrives after this command's frame went out.
        QString cause;
        if (index > 0) {
            const CommandRecord &previous = records[size_t(index - 1)];
            const QList<const TracedFrame *> previousFrames = framesOf(index - 1);
            if (previous.errorCode == LinkError::TimedOut && !previousFrames.isEmpty()
                && previousFrames.last()->answerSent) {
                ++verdict.ambiguous;
                cause = QStringLiteral("; the command before (%1) timed out with its answer on the line: "
                                       "a late ACK with its answer, or the rest of a cut frame")
                            .arg(describe(previousFrames));
            }
        }
        if (verdict.cases.size() < maxCases)
            verdict.cases << QStringLiteral("command %1 (code 0x%2, frames %3): %4%5")
                                 .arg(index)
                                 .arg(record.code, 2, 16, QLatin1Char('0'))
                                 .arg(describe(frames), problems.join(QLatin1String("; ")), cause);
    }
    return verdict;
}
