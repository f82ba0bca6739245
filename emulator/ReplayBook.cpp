#include "ReplayBook.h"

#include <cstdio>

ReplayBook::ReplayBook(QString path, TraceLog *trace)
    : m_path(path), m_trace(trace), m_tcp(path, ReplayGroup::Tcp), m_pty(path, ReplayGroup::Pty)
{
}

bool ReplayBook::check(QString *error)
{
    return checkReplayJournal(m_path, &m_totals, error);
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
    return m_totals.tcpCommands + m_totals.ptyCommands - int(m_reached.size());
}

QString ReplayBook::summary() const
{
    QString text = QStringLiteral("replay %1: %2 commands matched, %3 diverged, %4 not replayed")
                       .arg(m_path)
                       .arg(m_reached.size() - m_diverged.size())
                       .arg(m_diverged.size())
                       .arg(notReplayed());
    if (m_unrecorded > 0)
        text += QStringLiteral(", %1 frames beyond the recording").arg(m_unrecorded);
    return text;
}

int ReplayBook::exitStatus() const
{
    return m_diverged.empty() && m_unrecorded == 0 && notReplayed() == 0 ? 0 : 1;
}
