#include "JournalSessions.h"

#include <QStringList>

int SessionTracker::assign(const JournalLine &line)
{
    const QByteArray key = line.session.isEmpty() ? "link " + line.link.toByteArray() : line.session.toByteArray();
    const bool begins = !line.isBytes() && (line.kind == Journal::Kind::Open || line.kind == Journal::Kind::OpenFailed);
    auto found = m_current.find(key);
    if (begins || found == m_current.end()) {
        // A key is kept only while its session may go on: one entry per live writer.
        if (found == m_current.end())
            found = m_current.emplace(key, 0).first;
        found->second = ++m_count;
    }
    return found->second;
}

QString SessionInfo::describe() const
{
    static const char *const kEndings[] = {"not closed", "closed", "lost", "did not open"};
    QString text = QStringLiteral("session %1: %2").arg(number).arg(QString::fromUtf8(link));
    if (!what.isEmpty())
        text += QLatin1Char(' ') + QString::fromUtf8(what.left(80));
    text += QStringLiteral(", lines %1-%2, %3 to %4, %5 %6, %7")
                .arg(firstLine)
                .arg(lastLine)
                .arg(QString::fromLatin1(Journal::formatTime(firstMs)), QString::fromLatin1(Journal::formatTime(lastMs)))
                .arg(commands)
                .arg(commands == 1 ? QLatin1String("command") : QLatin1String("commands"))
                .arg(QLatin1String(kEndings[int(ending)]));
    return text;
}

bool SessionTable::add(const JournalLine &line, qint64 lineNumber)
{
    using Journal::Kind;
    const int number = line.sessionNumber;
    if (number > int(m_sessions.size())) {
        if (number > kMaxSessions)
            return false;
        SessionInfo session;
        session.number = number;
        session.token = line.session.toByteArray();
        session.link = line.link.toByteArray();
        session.firstMs = session.lastMs = line.msecs;
        session.firstLine = lineNumber;
        m_sessions.push_back(session);
    }
    SessionInfo &session = m_sessions[size_t(number - 1)];
    session.firstMs = qMin(session.firstMs, line.msecs);
    session.lastMs = qMax(session.lastMs, line.msecs);
    session.lastLine = lineNumber;
    if (line.isBytes())
        return true;
    switch (line.kind) {
    case Kind::Open:
        session.opened = true;
        session.what = line.rest.toByteArray();
        break;
    case Kind::OpenFailed:
        session.ending = SessionInfo::Ending::Failed;
        session.what = line.rest.first(qMax<qsizetype>(0, line.rest.indexOf(" does not open"))).toByteArray();
        break;
    case Kind::Close:
        session.ending = SessionInfo::Ending::Closed;
        break;
    case Kind::Lost:
        session.ending = SessionInfo::Ending::Lost;
        break;
    case Kind::Command:
        ++session.commands;
        break;
    default:
        break;
    }
    return true;
}

QString listSessions(const std::vector<SessionInfo> &sessions)
{
    // Enough to pick from; a journal of thousands of sessions is better read with summary.
    constexpr size_t kListed = 40;
    QStringList lines;
    for (size_t i = 0; i < sessions.size() && i < kListed; ++i)
        lines << QStringLiteral("  ") + sessions[i].describe();
    if (sessions.size() > kListed)
        lines << QStringLiteral("  ... and %1 more (kestra-journal summary lists them all)").arg(sessions.size() - kListed);
    return lines.join(QLatin1Char('\n'));
}

namespace {

bool overlap(const SessionInfo &a, const SessionInfo &b)
{
    return a.firstLine <= b.lastLine && b.firstLine <= a.lastLine;
}

bool refuse(QString *error, const QString &why, const std::vector<SessionInfo> &sessions)
{
    *error = why + QStringLiteral("; name one with --link NAME or --session N. The journal holds:\n")
             + listSessions(sessions);
    return false;
}

} // namespace

bool chooseSessions(const std::vector<SessionInfo> &sessions, const SessionChoice &choice, std::vector<bool> *chosen,
                    QString *error)
{
    chosen->assign(sessions.size() + 1, false);
    if (choice.session > 0) {
        if (choice.session > int(sessions.size()))
            return refuse(error, QStringLiteral("there is no session %1").arg(choice.session), sessions);
        const SessionInfo &session = sessions[size_t(choice.session - 1)];
        if (!choice.link.isEmpty() && session.link != choice.link)
            return refuse(error, QStringLiteral("session %1 is on %2, not on %3")
                                     .arg(choice.session).arg(QString::fromUtf8(session.link), QString::fromUtf8(choice.link)),
                          sessions);
        (*chosen)[size_t(choice.session)] = true;
        return true;
    }
    // Sessions that sent no command add nothing to a script or a replay; they never conflict.
    std::vector<const SessionInfo *> taken;
    for (const SessionInfo &session : sessions) {
        if (session.commands == 0 || (!choice.link.isEmpty() && session.link != choice.link))
            continue;
        taken.push_back(&session);
    }
    if (taken.empty() && !choice.link.isEmpty())
        return refuse(error, QStringLiteral("no session sent commands on %1").arg(QString::fromUtf8(choice.link)), sessions);
    // Sessions are numbered in the order they begin, so an overlap shows against the one before
    // that reaches furthest.
    const SessionInfo *furthest = nullptr;
    for (const SessionInfo *session : taken) {
        if (session->link != taken.front()->link)
            return refuse(error, QStringLiteral("the journal holds sessions on more than one link (%1, %2)")
                                     .arg(QString::fromUtf8(taken.front()->link), QString::fromUtf8(session->link)),
                          sessions);
        if (furthest && overlap(*furthest, *session))
            return refuse(error, QStringLiteral("sessions %1 and %2 ran at the same time")
                                     .arg(furthest->number).arg(session->number),
                          sessions);
        if (!furthest || session->lastLine > furthest->lastLine)
            furthest = session;
    }
    for (const SessionInfo *session : taken)
        (*chosen)[size_t(session->number)] = true;
    return true;
}
