#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Processes events until pred holds or ms have passed: one pass, then blocking waits for the
// next event (a timer wakes the last one at the deadline). False on time-out.
inline bool waitFor(const std::function<bool()> &pred, int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.setSingleShot(true);
    QCoreApplication::processEvents();
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        if (!wake.isActive())
            wake.start(int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets the event loop run for ms without a condition.
inline void idleFor(int ms)
{
    bool done = false;
    QTimer::singleShot(ms, [&done] { done = true; });
    waitFor([&done] { return done; }, ms + 10000);
}
