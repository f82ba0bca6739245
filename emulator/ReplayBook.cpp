#include "ReplayBook.h"

#include <cstdio>

ReplayBook::ReplayBook(QString path, SessionChoice choice, TraceLog *trace)
    : m_path(path), m_choice(std::move(choice)), m_trace(trace), m_tcp(path, ReplayGroup::Tcp, &m_plan.chosen),
      m_pty(path, ReplayGroup::Pty, &m_plan.chosen)
{
}

bool ReplayBook::check(QString *error)
{
    const ReplayCheck result = checkReplayJournal(m_path, m_choice, &m_plan, error);
    m_refused = result == ReplayCheck::Refused;
    return result == ReplayCheck::Ready;
}

void ReplayBook::diverged(ReplayGroup group, int command, const QString &link, const QString &text)
{
    if (command > 0)
        m_diverged.insert(key(group, command));
    else
        ++m_unrecorded;
    std::fprintf(stderr, "kestra-emu: replay %s: %s\n", qPrintable(link), qPrintable(text));
    std::fflush(stderr);
    m_trace->event(link, QStringLiteral("replay: ") + text);
}

int ReplayBook::notReplayed() const
{
    return m_plan.commands - int(m_reached.size());
}

QString ReplayBook::summary() const
{
    QString text = QStringLiteral("replay %1: %2 commands matched, %3 diverged, %4 not replayed")
                       .arg(m_path)
                       .arg(m_reached.size() - m_diverged.size())
                       .arg(m_diverged.size())
                       .arg(notReplayed());
    if (m_unrecorded > 0)
        text += m_unrecorded == 1 ? QStringLiteral(", 1 frame the recording does not have")
                                 : QStringLiteral(", %1 frames the recording does not have").arg(m_unrecorded);
    return text;
}

int ReplayBook::exitStatus() const
{
    return m_diverged.empty() && m_unrecorded == 0 && notReplayed() == 0 ? 0 : 1;
}
