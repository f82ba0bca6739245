#include "JournalSummary.h"

#include "protocol/CardOperations.h"
#include "protocol/OperationSteps.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// Bounds on what is kept per name, so that a damaged or hostile journal cannot grow the summary.
constexpr size_t kMaxNames = 64;
constexpr qint64 kExactMs = 65536;
// Texts kept from a line (what was opened, reasons, meanings): a line may be up to 1 MiB long.
constexpr qsizetype kMaxText = 200;
// What the session table shows of what was opened; the JSON has the kept text.
constexpr qsizetype kShownWhat = 40;
// Links the verdict names; the links table has them all.
constexpr int kNamedLinks = 4;

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

// At most kMaxText bytes, cut before a UTF-8 sequence rather than through it.
QByteArray capped(QByteArrayView text)
{
    if (text.size() <= kMaxText)
        return text.toByteArray();
    qsizetype size = kMaxText;
    while (size > 0 && (uchar(text[size]) & 0xC0) == 0x80)
        --size;
    return text.first(size).toByteArray() + "...";
}

// Text from a journal for the terminal: control characters (an escape sequence in a damaged or
// hostile journal would act on the operator's terminal) are shown as \xNN.
QString shown(QByteArrayView text)
{
    const QString decoded = QString::fromUtf8(text);
    QString out;
    out.reserve(decoded.size());
    for (const QChar c : decoded) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString shortened(const QString &text, qsizetype width)
{
    return text.size() <= width ? text : text.left(width - 3) + QStringLiteral("...");
}

QString hex2(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0'));
}

QString utc(qint64 ms)
{
    return QString::fromLatin1(Journal::formatTime(ms));
}

QJsonValue utcOrNull(qint64 ms)
{
    return ms >= 0 ? QJsonValue(utc(ms)) : QJsonValue();
}

// A median is a whole number of ms or halfway between two.
QString msText(double ms)
{
    return ms == std::floor(ms) ? QString::number(qint64(ms)) : QString::number(ms, 'f', 1);
}

// Each code's name as kestra-send names the command (the skipped lines use the same): the
// operation's word, and for an operation of several commands which of them ("write 2/3"). A code
// that several operations send takes the name of the first that the table lists.
const std::array<QString, 256> &operationNames()
{
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> table;
        for (const CardOperations::Operation &operation : CardOperations::operations()) {
            const size_t steps = operation.steps.size();
            for (size_t i = 0; i < steps; ++i) {
                QString &name = table[operation.steps[i].code];
                if (!name.isEmpty())
                    continue;
                name = CardOperations::stepName(operation, qsizetype(i));
            }
        }
        return table;
    }();
    return names;
}

// "code 31 (write 2/3)", "code 7e"
QString codeName(int code)
{
    const QString &operation = operationNames()[size_t(code)];
    return operation.isEmpty() ? QStringLiteral("code %1").arg(hex2(code))
                               : QStringLiteral("code %1 (%2)").arg(hex2(code), operation);
}

QString plural(qint64 count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

struct JournalSummary::Reasons
{
    std::map<QByteArray, qint64> counts;
    void add(const QByteArray &reason) { ++counts[otherOnce(counts, reason)]; }
};

JournalSummary::JournalSummary() : m_failures(std::make_unique<Reasons>()), m_losses(std::make_unique<Reasons>()) {}

JournalSummary::~JournalSummary() = default;

double JournalSummary::CodeCounts::median() const
{
    qint64 total = 0;
    for (const auto &[ms, n] : elapsed)
        total += n;
    if (total == 0)
        return 0;
    // The values at the two middle places (one place when the count is odd), counted from 1.
    const qint64 lower = (total + 1) / 2, upper = total / 2 + 1;
    qint64 seen = 0, lowerMs = -1;
    for (const auto &[ms, n] : elapsed) {
        seen += n;
        if (lowerMs < 0 && seen >= lower)
            lowerMs = ms;
        if (seen >= upper)
            return (double(lowerMs) + double(ms)) / 2;
    }
    return double(lowerMs);
}

void JournalSummary::MoreSessions::take(qint64 ms)
{
    if (firstMs < 0 || ms < firstMs)
        firstMs = ms;
    lastMs = qMax(lastMs, ms);
}

void JournalSummary::setSkipped(qint64 skipped, const QString &first)
{
    m_skipped = skipped;
    m_firstSkipped = first;
}

JournalSummary::Session *JournalSummary::sessionOf(const JournalLine &line)
{
    const int number = line.sessionNumber;
    if (number == m_lastNumber)
        return m_lastSession;
    m_lastNumber = number;
    if (number <= m_highestSession) {
        const auto found = m_sessions.find(number);
        return m_lastSession = found == m_sessions.end() ? nullptr : &found->second;
    }
    // A session begins. When the list is full, the earliest quiet one makes room; with none
    // quiet, the new one is counted with the rest.
    m_highestSession = number;
    ++m_sessionCount;
    if (m_sessions.size() >= kListedSessions) {
        if (m_quiet.empty()) {
            ++m_more.count;
            return m_lastSession = nullptr;
        }
        const auto given = m_sessions.find(*m_quiet.begin());
        const Session &old = given->second;
        ++m_more.count;
        ++m_more.closed;
        m_more.commands += old.commands;
        m_more.notZero += old.notZero;
        m_more.take(old.firstMs);
        m_more.take(old.lastMs);
        m_quiet.erase(m_quiet.begin());
        m_sessions.erase(given);
    }
    Session &session = m_sessions[number];
    session.number = number;
    session.token = line.session.toByteArray();
    session.link = capped(line.link);
    session.firstMs = session.lastMs = line.msecs;
    return m_lastSession = &session;
}

void JournalSummary::noteTrouble(Session *session)
{
    if (!session || session->trouble)
        return;
    session->trouble = true;
    m_quiet.erase(session->number);
}

JournalSummary::LinkCounts *JournalSummary::linkOf(const JournalLine &line)
{
    QByteArray name = line.link.toByteArray();
    // Past kMaxNames links the rest are counted together, not dropped.
    if (m_links.size() >= kMaxNames && !m_links.count(name))
        name = "(others)";
    const auto [entry, added] = m_links.try_emplace(name);
    LinkCounts &link = entry->second;
    if (added || line.msecs < link.firstMs)
        link.firstMs = line.msecs;
    return &link;
}

JournalSummary::CodeCounts &JournalSummary::code(quint8 code)
{
    std::unique_ptr<CodeCounts> &slot = m_codes[code];
    if (!slot)
        slot = std::make_unique<CodeCounts>();
    return *slot;
}

void JournalSummary::add(const JournalLine &line)
{
    if (m_firstMs < 0 || line.msecs < m_firstMs)
        m_firstMs = line.msecs;
    m_lastMs = qMax(m_lastMs, line.msecs);
    Session *session = nullptr;
    bool more = false; // a line of a session counted with the rest
    if (line.sessionNumber > 0) {
        session = sessionOf(line);
        if (session) {
            session->firstMs = qMin(session->firstMs, line.msecs);
            session->lastMs = qMax(session->lastMs, line.msecs);
            if (session->link == Journal::kNoLink && line.link != Journal::kNoLink)
                session->link = capped(line.link);
        } else {
            more = true;
            m_more.take(line.msecs);
        }
    }
    if (!line.isBytes()) {
        addEvent(line, session);
        if (more) {
            if (line.kind == Journal::Kind::Command)
                ++m_more.commands;
            else if (line.kind == Journal::Kind::Close)
                ++m_more.closed;
            else if (line.kind == Journal::Kind::Lost)
                ++m_more.lost;
            else if (line.kind == Journal::Kind::OpenFailed)
                ++m_more.failed;
        }
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

void JournalSummary::addEvent(const JournalLine &line, Session *session)
{
    using Journal::Kind;
    const Kind kind = line.kind;
    switch (kind) {
    case Kind::End: {
        Journal::EndEvent end;
        if (!Journal::parseEndEvent(line.rest, &end, nullptr)) {
            ++m_unreadableEnds;
            noteTrouble(session);
            return;
        }
        ++m_ends;
        CodeCounts &counts = code(end.code);
        if (counts.count == 0 || end.elapsedMs < counts.min)
            counts.min = end.elapsedMs;
        if (end.elapsedMs > counts.max)
            counts.max = end.elapsedMs;
        ++counts.count;
        ++counts.results[end.result == 0 ? 0 : end.result == 1 ? 1 : 2];
        ++counts.elapsed[bucket(end.elapsedMs)];
        if (end.error != 0 && (counts.errors.size() < kMaxNames || counts.errors.count(end.error))) {
            auto &entry = counts.errors[end.error];
            if (entry.first++ == 0)
                entry.second = capped(end.errorMeaning.toUtf8());
        }
        if (end.status >= 0 && end.status != 0x20) {
            auto &entry = counts.statuses[end.status];
            if (entry.first++ == 0)
                entry.second = capped(end.statusMeaning.toUtf8());
        }
        if (end.result != 0) {
            if (session)
                ++session->notZero;
            else if (line.sessionNumber > 0)
                ++m_more.notZero;
            noteTrouble(session);
        }
        return;
    }
    case Kind::Command:
        ++m_commands;
        if (session)
            ++session->commands;
        return;
    case Kind::Resend:
        ++m_resends;
        return;
    case Kind::Settle:
        ++m_settles;
        return;
    case Kind::Refused:
        ++m_refused;
        noteTrouble(session);
        return;
    case Kind::Skipped: {
        ++m_skippedCommands;
        quint8 skippedCode = 0;
        QByteArrayView reason;
        if (Journal::parseSkippedEvent(line.rest, &skippedCode, &reason))
            ++code(skippedCode).skipped;
        noteTrouble(session);
        return;
    }
    case Kind::Stopped:
        ++m_stopped;
        noteTrouble(session);
        return;
    case Kind::Modem:
        // A device server's word that the device's DSR went off: the device was off or unplugged.
        if (line.rest == Journal::modemText(false).toLatin1()) {
            ++m_dsrOff;
            noteTrouble(session);
        }
        return;
    case Kind::Open:
        ++linkOf(line)->opened;
        if (session) {
            session->ending = Ending::Open;
            session->what = capped(line.rest);
        }
        return;
    case Kind::OpenFailed: {
        ++linkOf(line)->failed;
        const QByteArray reason = capped(Journal::openFailureReason(line.rest));
        m_failures->add(reason);
        if (session) {
            const qsizetype cut = line.rest.indexOf(" does not open");
            session->ending = Ending::Failed;
            session->what = capped(cut < 0 ? line.rest : line.rest.first(cut));
            session->reason = reason;
            m_quiet.erase(session->number);
        }
        return;
    }
    case Kind::Lost: {
        ++linkOf(line)->lost;
        const QByteArray reason = capped(Journal::lossReason(line.rest));
        m_losses->add(reason);
        if (session) {
            session->ending = Ending::Lost;
            session->reason = reason;
            m_quiet.erase(session->number);
        }
        return;
    }
    case Kind::Close:
        ++linkOf(line)->closed;
        if (session) {
            session->ending = Ending::Closed;
            if (!session->trouble)
                m_quiet.insert(session->number);
        }
        return;
    default:
        return;
    }
}

std::vector<const JournalSummary::Session *> JournalSummary::sessionsInTimeOrder() const
{
    std::vector<const Session *> sessions;
    sessions.reserve(m_sessions.size());
    for (const auto &[number, session] : m_sessions)
        sessions.push_back(&session);
    // Appended journals need not be in time order; equal times keep the order they began in.
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const Session *a, const Session *b) { return a->firstMs < b->firstMs; });
    return sessions;
}

std::vector<std::pair<QByteArray, const JournalSummary::LinkCounts *>> JournalSummary::linksInTimeOrder() const
{
    std::vector<std::pair<QByteArray, const LinkCounts *>> links;
    for (const auto &[name, counts] : m_links)
        links.emplace_back(name, &counts);
    std::stable_sort(links.begin(), links.end(),
                     [](const auto &a, const auto &b) { return a.second->firstMs < b.second->firstMs; });
    return links;
}

// "all normal", or the number of things that were not and what they were, the worst first:
// links lost and links that did not open, commands that failed (result -1) and that timed out
// (result 1) by code, commands that never ended, then what was not sent or not read.
QString JournalSummary::verdict(bool *normal) const
{
    QStringList items;
    qint64 total = 0;
    auto item = [&](qint64 count, const QString &text) {
        if (count <= 0)
            return;
        total += count;
        items << QStringLiteral("%1 %2").arg(count).arg(text);
    };
    const auto links = linksInTimeOrder();
    auto linkItem = [&](qint64 LinkCounts::*field, const char *what) {
        qint64 count = 0;
        QStringList names;
        for (const auto &[name, counts] : links) {
            if (counts->*field == 0)
                continue;
            count += counts->*field;
            if (names.size() < kNamedLinks)
                names << shown(name);
            else if (names.size() == kNamedLinks)
                names << QStringLiteral("...");
        }
        item(count, QStringLiteral("%1 (%2)").arg(QLatin1String(what), names.join(QStringLiteral(", "))));
    };
    linkItem(&LinkCounts::lost, "lost");
    linkItem(&LinkCounts::failed, "did not open");
    // Within one kind the code with the most first.
    auto byCode = [&](auto countOf, const char *one, const char *many) {
        std::vector<std::pair<qint64, int>> codes;
        for (int c = 0; c < 256; ++c) {
            if (m_codes[size_t(c)] && countOf(*m_codes[size_t(c)]) > 0)
                codes.emplace_back(-countOf(*m_codes[size_t(c)]), c);
        }
        std::sort(codes.begin(), codes.end());
        for (const auto &[negative, c] : codes)
            item(-negative, QStringLiteral("%1 on %2").arg(QLatin1String(-negative == 1 ? one : many), codeName(c)));
    };
    byCode([](const CodeCounts &c) { return c.results[2]; }, "result -1", "result -1");
    byCode([](const CodeCounts &c) { return c.results[1]; }, "time-out", "time-outs");
    const qint64 unended = m_commands - m_ends - m_unreadableEnds;
    item(unended, QLatin1String(unended == 1 ? "command without an end" : "commands without an end"));
    byCode([](const CodeCounts &c) { return c.skipped; }, "skipped", "skipped");
    // A skipped line whose code cannot be read is still a command not sent.
    qint64 skippedByCode = 0;
    for (const auto &slot : m_codes)
        skippedByCode += slot ? slot->skipped : 0;
    item(m_skippedCommands - skippedByCode, QStringLiteral("skipped"));
    item(m_stopped, QStringLiteral("stopped"));
    item(m_dsrOff, QStringLiteral("DSR off"));
    item(m_refused, QStringLiteral("refused"));
    item(m_unreadableEnds, QLatin1String(m_unreadableEnds == 1 ? "unreadable end line" : "unreadable end lines"));
    item(m_skipped, QLatin1String(m_skipped == 1 ? "unreadable line" : "unreadable lines"));
    *normal = items.isEmpty();
    if (items.isEmpty())
        return QStringLiteral("all normal");
    return QStringLiteral("%1 not normal: %2").arg(total).arg(items.join(QStringLiteral(", ")));
}

QString JournalSummary::table(const QString &name) const
{
    QString out;
    out += QStringLiteral("%1: %2 lines, %3").arg(name, QString::number(m_lines), plural(m_sessionCount, "session", "sessions"));
    if (m_firstMs >= 0)
        out += QStringLiteral(", %1 to %2").arg(utc(m_firstMs), utc(m_lastMs));
    out += QLatin1Char('\n');
    if (m_skipped > 0)
        out += QStringLiteral("unreadable lines skipped: %1 (the first: %2)\n").arg(m_skipped).arg(shown(m_firstSkipped.toUtf8()));

    if (m_sessionCount > 0) {
        // Within one day the rows show the time of day; the first line has the date.
        const bool oneDay = utc(m_firstMs).left(10) == utc(m_lastMs).left(10);
        auto when = [oneDay](qint64 ms) { return oneDay ? utc(ms).mid(11, 12) : utc(ms); };
        const auto sessions = sessionsInTimeOrder();
        const QString moreLabel = QStringLiteral("(%1 more sessions)").arg(m_more.count);
        qsizetype numberWidth = 1, linkWidth = 4, whatWidth = m_more.count ? moreLabel.size() : 6;
        for (const Session *session : sessions) {
            numberWidth = qMax(numberWidth, QString::number(session->number).size());
            linkWidth = qMax(linkWidth, shown(session->link).size());
            whatWidth = qMax(whatWidth, qMin(kShownWhat, shown(session->what).size()));
        }
        const qsizetype timeWidth = oneDay ? 12 : 24;
        auto row = [&](const QString &number, const QString &link, const QString &what, const QString &from,
                       const QString &to, const QString &commands, const QString &notZero, const QString &ended) {
            return QStringLiteral("  %1  %2  %3  %4  %5  %6  %7  %8\n")
                .arg(number.rightJustified(numberWidth), link.leftJustified(linkWidth),
                     shortened(what, whatWidth).leftJustified(whatWidth), from.leftJustified(timeWidth),
                     to.leftJustified(timeWidth), commands.rightJustified(8), notZero.rightJustified(5), ended);
        };
        out += oneDay ? QStringLiteral("\nSessions, in time order (times of %1, UTC)\n").arg(utc(m_firstMs).left(10))
                      : QStringLiteral("\nSessions, in time order\n");
        out += row(QStringLiteral("#"), QStringLiteral("link"), QStringLiteral("opened"), QStringLiteral("from"),
                   QStringLiteral("to"), QStringLiteral("commands"), QStringLiteral("not 0"), QStringLiteral("ended"));
        for (const Session *session : sessions) {
            QString ended;
            switch (session->ending) {
            case Ending::NoOpen:
            case Ending::Open:
                ended = QStringLiteral("not closed");
                break;
            case Ending::Closed:
                ended = QStringLiteral("closed");
                break;
            case Ending::Lost:
                ended = QStringLiteral("lost: ") + shown(session->reason);
                break;
            case Ending::Failed:
                ended = QStringLiteral("did not open: ") + shown(session->reason);
                break;
            }
            const QString what = session->ending == Ending::NoOpen && session->what.isEmpty()
                                     ? QStringLiteral("(no open line)")
                                     : shown(session->what);
            out += row(QString::number(session->number), shown(session->link), what, when(session->firstMs),
                       when(session->lastMs), QString::number(session->commands), QString::number(session->notZero),
                       ended);
        }
        if (m_more.count > 0) {
            QStringList endings;
            const qint64 notClosed = qMax<qint64>(0, m_more.count - m_more.closed - m_more.lost - m_more.failed);
            if (m_more.closed)
                endings << QStringLiteral("%1 closed").arg(m_more.closed);
            if (m_more.lost)
                endings << QStringLiteral("%1 lost").arg(m_more.lost);
            if (m_more.failed)
                endings << QStringLiteral("%1 did not open").arg(m_more.failed);
            if (notClosed)
                endings << QStringLiteral("%1 not closed").arg(notClosed);
            out += row(QString(), QString(), moreLabel, when(m_more.firstMs), when(m_more.lastMs),
                       QString::number(m_more.commands), QString::number(m_more.notZero),
                       endings.join(QStringLiteral(", ")));
        }
    }

    const auto links = linksInTimeOrder();
    qsizetype linkWidth = 10;
    for (const auto &[link, counts] : links)
        linkWidth = qMax(linkWidth, shown(link).size());
    out += QStringLiteral("\n%1   opened   failed     lost   closed\n").arg(QStringLiteral("Links").leftJustified(linkWidth + 2));
    for (const auto &[link, counts] : links)
        out += QStringLiteral("  %1 %2 %3 %4 %5\n")
                   .arg(shown(link).leftJustified(linkWidth))
                   .arg(counts->opened, 8)
                   .arg(counts->failed, 8)
                   .arg(counts->lost, 8)
                   .arg(counts->closed, 8);
    for (const auto &[reason, count] : m_failures->counts)
        out += QStringLiteral("  failed %1x: %2\n").arg(count).arg(shown(reason));
    for (const auto &[reason, count] : m_losses->counts)
        out += QStringLiteral("  lost %1x: %2\n").arg(count).arg(shown(reason));

    out += QStringLiteral("\nCode  operation   commands result 0 result 1 result -1 skipped   min ms median ms   max ms\n");
    for (int c = 0; c < 256; ++c) {
        const CodeCounts *code = m_codes[size_t(c)].get();
        if (!code)
            continue;
        const bool timed = code->count > 0;
        const QString none = QStringLiteral("-");
        out += QStringLiteral("  %1  %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                   .arg(hex2(c))
                   .arg(operationNames()[size_t(c)].leftJustified(10))
                   .arg(code->count, 9)
                   .arg(code->results[0], 8)
                   .arg(code->results[1], 8)
                   .arg(code->results[2], 9)
                   .arg(code->skipped, 7)
                   .arg(timed ? QString::number(code->min) : none, 8)
                   .arg(timed ? msText(code->median()) : none, 9)
                   .arg(timed ? QString::number(code->max) : none, 8);
        for (const auto &[error, entry] : code->errors)
            out += QStringLiteral("        error %1 %2x: %3\n").arg(error).arg(entry.first).arg(shown(entry.second));
        for (const auto &[status, entry] : code->statuses)
            out += QStringLiteral("        status %1 %2x: %3\n").arg(hex2(status)).arg(entry.first).arg(shown(entry.second));
    }
    out += QStringLiteral("\ncommands %1, ended %2").arg(m_commands).arg(m_ends);
    if (m_unreadableEnds)
        out += QStringLiteral(" (%1 end lines unreadable)").arg(m_unreadableEnds);
    out += QStringLiteral(", refused %1, skipped %2, stopped %3\n").arg(m_refused).arg(m_skippedCommands).arg(m_stopped);
    out += QStringLiteral("late frames %1, damaged frames %2, resends %3, settles %4, stray %5, dropped %6\n")
               .arg(m_lateFrames).arg(m_badFrames).arg(m_resends).arg(m_settles).arg(m_stray).arg(m_dropped);
    bool normal = false;
    out += QStringLiteral("verdict: %1\n").arg(verdict(&normal));
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
    // The earliest and the latest time of any line: appended sessions need not be in order.
    root[QStringLiteral("first_time")] = utcOrNull(m_firstMs);
    root[QStringLiteral("last_time")] = utcOrNull(m_lastMs);

    static const char *const kEndings[] = {"not closed", "not closed", "closed", "lost", "did not open"};
    QJsonArray sessions;
    for (const Session *session : sessionsInTimeOrder()) {
        QJsonObject entry{{QStringLiteral("number"), session->number},
                          {QStringLiteral("session"), session->token.isEmpty() ? QJsonValue() : QJsonValue(QString::fromUtf8(session->token))},
                          {QStringLiteral("link"), QString::fromUtf8(session->link)},
                          {QStringLiteral("what"), QString::fromUtf8(session->what)},
                          {QStringLiteral("first_time"), utc(session->firstMs)},
                          {QStringLiteral("last_time"), utc(session->lastMs)},
                          {QStringLiteral("commands"), session->commands},
                          {QStringLiteral("results_not_0"), session->notZero},
                          {QStringLiteral("ending"), QLatin1String(kEndings[int(session->ending)])}};
        if (session->ending == Ending::Lost || session->ending == Ending::Failed)
            entry[QStringLiteral("reason")] = QString::fromUtf8(session->reason);
        sessions.append(entry);
    }
    root[QStringLiteral("session_count")] = m_sessionCount;
    root[QStringLiteral("sessions")] = sessions;
    root[QStringLiteral("more_sessions")] = QJsonObject{
        {QStringLiteral("count"), m_more.count},
        {QStringLiteral("first_time"), utcOrNull(m_more.firstMs)},
        {QStringLiteral("last_time"), utcOrNull(m_more.lastMs)},
        {QStringLiteral("commands"), m_more.commands},
        {QStringLiteral("results_not_0"), m_more.notZero},
        {QStringLiteral("closed"), m_more.closed},
        {QStringLiteral("lost"), m_more.lost},
        {QStringLiteral("did_not_open"), m_more.failed},
        {QStringLiteral("not_closed"), qMax<qint64>(0, m_more.count - m_more.closed - m_more.lost - m_more.failed)}};

    QJsonArray links;
    for (const auto &[link, counts] : linksInTimeOrder())
        links.append(QJsonObject{{QStringLiteral("link"), QString::fromUtf8(link)},
                                 {QStringLiteral("opened"), counts->opened},
                                 {QStringLiteral("failed"), counts->failed},
                                 {QStringLiteral("lost"), counts->lost},
                                 {QStringLiteral("closed"), counts->closed}});
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
        const CodeCounts *code = m_codes[size_t(c)].get();
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
        const QString &operation = operationNames()[size_t(c)];
        const bool timed = code->count > 0;
        codes.append(QJsonObject{{QStringLiteral("code_hex"), hex2(c)},
                                 {QStringLiteral("operation"), operation.isEmpty() ? QJsonValue() : QJsonValue(operation)},
                                 {QStringLiteral("count"), code->count},
                                 {QStringLiteral("result_0"), code->results[0]},
                                 {QStringLiteral("result_1"), code->results[1]},
                                 {QStringLiteral("result_minus_1"), code->results[2]},
                                 {QStringLiteral("skipped"), code->skipped},
                                 {QStringLiteral("errors"), errors},
                                 {QStringLiteral("statuses"), statuses},
                                 {QStringLiteral("elapsed_ms_min"), timed ? QJsonValue(code->min) : QJsonValue()},
                                 {QStringLiteral("elapsed_ms_median"), timed ? QJsonValue(code->median()) : QJsonValue()},
                                 {QStringLiteral("elapsed_ms_max"), timed ? QJsonValue(code->max) : QJsonValue()}});
    }
    root[QStringLiteral("codes")] = codes;
    root[QStringLiteral("commands")] = m_commands;
    root[QStringLiteral("ended")] = m_ends;
    root[QStringLiteral("unreadable_ends")] = m_unreadableEnds;
    root[QStringLiteral("refused")] = m_refused;
    root[QStringLiteral("skipped")] = m_skippedCommands;
    root[QStringLiteral("stopped")] = m_stopped;
    root[QStringLiteral("dsr_off")] = m_dsrOff;
    root[QStringLiteral("late_frames")] = m_lateFrames;
    root[QStringLiteral("damaged_frames")] = m_badFrames;
    root[QStringLiteral("resends")] = m_resends;
    root[QStringLiteral("settles")] = m_settles;
    root[QStringLiteral("stray")] = m_stray;
    root[QStringLiteral("dropped")] = m_dropped;
    bool normal = false;
    root[QStringLiteral("verdict")] = verdict(&normal);
    root[QStringLiteral("normal")] = normal;
    return root;
}
