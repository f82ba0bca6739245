#include "PacedPipe.h"

#include <cmath>

PacedPipe::PacedPipe(Sink sink, QObject *parent) : QObject(parent), m_sink(std::move(sink))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PacedPipe::pump);
}

qint64 PacedPipe::dueBytes() const
{
    // bytes = seconds * bps / 10, in microseconds: exact enough, and no overflow for months.
    return (m_lineClock.nsecsElapsed() / 1000) * m_bps / 10'000'000LL;
}

void PacedPipe::push(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_bps <= 0) {
        m_sink(bytes);
        return;
    }
    // A line that has carried everything it was given is idle: the new bytes start afresh.
    // A busy line goes on from where it is, so back-to-back sends add up.
    if (m_queue.isEmpty() && (!m_lineClock.isValid() || dueBytes() >= m_released)) {
        m_lineClock.start();
        m_released = 0;
    }
    m_queue.append(bytes);
    if (!m_timer.isActive())
        pump();
}

void PacedPipe::clear()
{
    m_queue.clear();
    m_timer.stop();
}

void PacedPipe::pump()
{
    const qint64 due = dueBytes() - m_released;
    if (due > 0) {
        const qsizetype count = qsizetype(qMin<qint64>(due, m_queue.size()));
        const QByteArray chunk = m_queue.left(count);
        m_queue.remove(0, count);
        m_released += count;
        m_sink(chunk);
    }
    if (m_queue.isEmpty()) {
        emit drained();
        return;
    }
    // Wake when the next byte is due, but not more often than once a millisecond: the bytes due
    // by then go out together.
    const qint64 nextNs = (m_released + 1) * 10'000'000'000LL / m_bps;
    const qint64 waitNs = nextNs - m_lineClock.nsecsElapsed();
    const int waitMs = int(qMax<qint64>(1, (waitNs + 999'999) / 1'000'000));
    m_timer.start(waitMs);
}
