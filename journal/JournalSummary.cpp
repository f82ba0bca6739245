#include "JournalSummary.h"

#include <QDateTime>
#include <QJsonArray>

#include <cmath>

namespace {

// Bounds on what is kept per name, so that a damaged or hostile journal cannot grow the summary.
constexpr size_t kMaxNames = 64;
constexpr qint64 kExactMs = 65536;

QByteArray otherOnce(const std::map<QByteArray, qint64> &map, const QByteArray &key)
{
    return map.size() < kMaxNames || map.count(key) ? key : QByteArray("(others)");
}

// Past a minute, times are kept to three significant digits: the median stays honest and the
// number of distinct values small.
qint64 bucket(qint64 ms)
{
    if (ms < kExactMs)
        return ms;
    qint64 scale = 1;
    while (ms / scale >= 1000)
        scale *= 10;
    return ms / scale * scale;
}

// "... does not open: REASON (OpenLink ...); hint" and "LINK: REASON".
QByteArray reasonOf(QByteArrayView text, bool openFailed)
{
    if (openFailed) {
        const qsizetype at = text.indexOf("does not open: ");
        QByteArrayView reason = at < 0 ? text : text.sliced(at + 15);
        const qsizetype hint = reason.indexOf(" (OpenLink");
        return (hint < 0 ? reason : reason.first(hint)).toByteArray();
    }
    const qsizetype at = text.indexOf(": ");
    return (at < 0 ? text : text.sliced(at + 2)).toByteArray();
}

QString hex2(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0'));
}

QString utc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace

struct JournalSummary::Reasons
{
    std::map<QByteArray, qint64> counts;
    void add(const QByteArray &reason) { ++counts[otherOnce(counts, reason)]; }
};

JournalSummary::JournalSummary() : m_failures(std::make_unique<Reasons>()), m_losses(std::make_unique<Reasons>()) {}

JournalSummary::~JournalSummary() = default;

qint64 JournalSummary::CodeCounts::median() const
{
    qint64 total = 0;
    for (const auto &[ms, n] : elapsed)
        total += n;
    qint64 seen = 0;
    for (const auto &[ms, n] : elapsed) {
        seen += n;
        if (seen * 2 >= total)
            return ms;
    }
    return 0;
}

void JournalSummary::setSkipped(qint64 skipped, const QString &first)
{
    m_skipped = skipped;
    m_firstSkipped = first;
}

void JournalSummary::add(const JournalLine &line)
{
    if (m_firstMs < 0)
        m_firstMs = line.msecs;
    m_lastMs = line.msecs;
    if (!line.isBytes()) {
        addEvent(line);
        return;
    }
    if (line.kind == Journal::Kind::LateFrame)
        ++m_lateFrames;
    else if (line.kind == Journal::Kind::BadFrame)
        ++m_badFrames;
    else if (line.kind == Journal::Kind::Stray)
        ++m_stray;
    else if (line.kind == Journal::Kind::Dropped)
        ++m_dropped;
}

void JournalSummary::addEvent(const JournalLine &line)
{
    const Journal::Kind kind = line.kind;
    if (kind == Journal::Kind::End) {
        Journal::EndEvent end;
        if (!Journal::parseEndEvent(line.rest, &end, nullptr)) {
            ++m_unreadableEnds;
            return;
        }
        ++m_ends;
        std::unique_ptr<CodeCounts> &slot = m_codes[end.code];
        if (!slot)
            slot = std::make_unique<CodeCounts>();
        CodeCounts &code = *slot;
        if (code.count == 0 || end.elapsedMs < code.min)
            code.min = end.elapsedMs;
        if (end.elapsedMs > code.max)
            code.max = end.elapsedMs;
        ++code.count;
        ++code.results[end.result == 0 ? 0 : end.result == 1 ? 1 : 2];
        ++code.elapsed[bucket(end.elapsedMs)];
        if (end.error != 0 && (code.errors.size() < kMaxNames || code.errors.count(end.error))) {
            auto &entry = code.errors[end.error];
            if (entry.first++ == 0)
                entry.second = end.errorMeaning.toUtf8();
        }
        if (end.status >= 0 && end.status != 0x20) {
            auto &entry = code.statuses[end.status];
            if (entry.first++ == 0)
                entry.second = end.statusMeaning.toUtf8();
        }
        return;
    }
    if (kind == Journal::Kind::Command) {
        ++m_commands;
        return;
    }
    if (kind == Journal::Kind::Resend) {
        ++m_resends;
        return;
    }
    if (kind == Journal::Kind::Settle) {
        ++m_settles;
        return;
    }
    if (kind == Journal::Kind::Refused) {
        ++m_refused;
        return;
    }
    if (m_links.size() >= kMaxNames && !m_links.count(line.link.toByteArray()))
        return;
    LinkCounts &link = m_links[line.link.toByteArray()];
    if (kind == Journal::Kind::Open) {
        ++link.opened;
    } else if (kind == Journal::Kind::OpenFailed) {
        ++link.failed;
        m_failures->add(reasonOf(line.rest, true));
    } else if (kind == Journal::Kind::Lost) {
        ++link.lost;
        m_losses->add(reasonOf(line.rest, false));
    } else if (kind == Journal::Kind::Close) {
        ++link.closed;
    }
}

QString JournalSummary::table(const QString &name) const
{
    QString out;
    out += QStringLiteral("%1: %2 lines").arg(name).arg(m_lines);
    if (m_firstMs >= 0)
        out += QStringLiteral(", %1 to %2").arg(utc(m_firstMs), utc(m_lastMs));
    out += QLatin1Char('\n');
    if (m_skipped > 0)
        out += QStringLiteral("unreadable lines skipped: %1 (the first: %2)\n").arg(m_skipped).arg(m_firstSkipped);

    out += QStringLiteral("\nLinks         opened   failed     lost   closed\n");
    for (const auto &[link, counts] : m_links)
        out += QStringLiteral("  %1 %2 %3 %4 %5\n")
                   .arg(QString::fromUtf8(link).leftJustified(10))
                   .arg(counts.opened, 8)
                   .arg(counts.failed, 8)
                   .arg(counts.lost, 8)
                   .arg(counts.closed, 8);
    for (const auto &[reason, count] : m_failures->counts)
        out += QStringLiteral("  failed %1x: %2\n").arg(count).arg(QString::fromUtf8(reason));
    for (const auto &[reason, count] : m_losses->counts)
        out += QStringLiteral("  lost %1x: %2\n").arg(count).arg(QString::fromUtf8(reason));

    out += QStringLiteral("\nCode  commands  result 0  result 1 result -1    min ms median ms    max ms\n");
    for (int c = 0; c < 256; ++c) {
        const CodeCounts *code = m_codes[c].get();
        if (!code)
            continue;
        out += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8\n")
                   .arg(hex2(c))
                   .arg(code->count, 9)
                   .arg(code->results[0], 9)
                   .arg(code->results[1], 9)
                   .arg(code->results[2], 9)
                   .arg(code->min, 9)
                   .arg(code->median(), 9)
                   .arg(code->max, 9);
        for (const auto &[error, entry] : code->errors)
            out += QStringLiteral("        error %1 %2x: %3\n").arg(error).arg(entry.first).arg(QString::fromUtf8(entry.second));
        for (const auto &[status, entry] : code->statuses)
            out += QStringLiteral("        status %1 %2x: %3\n").arg(hex2(status)).arg(entry.first).arg(QString::fromUtf8(entry.second));
    }
    out += QStringLiteral("\ncommands %1, ended %2").arg(m_commands).arg(m_ends);
    if (m_unreadableEnds)
        out += QStringLiteral(" (%1 end lines unreadable)").arg(m_unreadableEnds);
    out += QStringLiteral(", refused %1\n").arg(m_refused);
    out += QStringLiteral("late frames %1, damaged frames %2, resends %3, settles %4, stray %5, dropped %6\n")
               .arg(m_lateFrames).arg(m_badFrames).arg(m_resends).arg(m_settles).arg(m_stray).arg(m_dropped);
    return out;
}

QJsonObject JournalSummary::json(const QString &name) const
{
    QJsonObject root;
    root[QStringLiteral("file")] = name;
    root[QStringLiteral("lines")] = m_lines;
    root[QStringLiteral("skipped_lines")] = m_skipped;
    if (m_skipped > 0)
        root[QStringLiteral("first_skipped")] = m_firstSkipped;
    root[QStringLiteral("first_time")] = m_firstMs >= 0 ? QJsonValue(utc(m_firstMs)) : QJsonValue();
    root[QStringLiteral("last_time")] = m_lastMs >= 0 ? QJsonValue(utc(m_lastMs)) : QJsonValue();

    QJsonArray links;
    for (const auto &[link, counts] : m_links)
        links.append(QJsonObject{{QStringLiteral("link"), QString::fromUtf8(link)},
                                 {QStringLiteral("opened"), counts.opened},
                                 {QStringLiteral("failed"), counts.failed},
                                 {QStringLiteral("lost"), counts.lost},
                                 {QStringLiteral("closed"), counts.closed}});
    root[QStringLiteral("links")] = links;
    auto reasons = [](const Reasons &from) {
        QJsonArray list;
        for (const auto &[reason, count] : from.counts)
            list.append(QJsonObject{{QStringLiteral("reason"), QString::fromUtf8(reason)}, {QStringLiteral("count"), count}});
        return list;
    };
    root[QStringLiteral("open_failures")] = reasons(*m_failures);
    root[QStringLiteral("losses")] = reasons(*m_losses);

    QJsonArray codes;
    for (int c = 0; c < 256; ++c) {
        const CodeCounts *code = m_codes[c].get();
        if (!code)
            continue;
        QJsonArray errors;
        for (const auto &[error, entry] : code->errors)
            errors.append(QJsonObject{{QStringLiteral("error"), error}, {QStringLiteral("count"), entry.first},
                                      {QStringLiteral("meaning"), QString::fromUtf8(entry.second)}});
        QJsonArray statuses;
        for (const auto &[status, entry] : code->statuses)
            statuses.append(QJsonObject{{QStringLiteral("status_hex"), hex2(status)}, {QStringLiteral("count"), entry.first},
                                        {QStringLiteral("meaning"), QString::fromUtf8(entry.second)}});
        codes.append(QJsonObject{{QStringLiteral("code_hex"), hex2(c)},
                                 {QStringLiteral("count"), code->count},
                                 {QStringLiteral("result_0"), code->results[0]},
                                 {QStringLiteral("result_1"), code->results[1]},
                                 {QStringLiteral("result_minus_1"), code->results[2]},
                                 {QStringLiteral("errors"), errors},
                                 {QStringLiteral("statuses"), statuses},
                                 {QStringLiteral("elapsed_ms_min"), code->min},
                                 {QStringLiteral("elapsed_ms_median"), code->median()},
                                 {QStringLiteral("elapsed_ms_max"), code->max}});
    }
    root[QStringLiteral("codes")] = codes;
    root[QStringLiteral("commands")] = m_commands;
    root[QStringLiteral("ended")] = m_ends;
    root[QStringLiteral("refused")] = m_refused;
    root[QStringLiteral("late_frames")] = m_lateFrames;
    root[QStringLiteral("damaged_frames")] = m_badFrames;
    root[QStringLiteral("resends")] = m_resends;
    root[QStringLiteral("settles")] = m_settles;
    root[QStringLiteral("stray")] = m_stray;
    root[QStringLiteral("dropped")] = m_dropped;
    return root;
}
