#pragma once

#include "control/ExchangeClock.h"

#include <QList>

// A clock that stands still until the test advances it. Timers fire inside advance(), in the
// order they fall due, each at its own instant (nowMs() reads that instant while it runs).
class ManualClock : public ExchangeClock
{
public:
    qint64 nowMs() const override { return m_now; }
    std::unique_ptr<Timer> makeTimer(Precision precision, std::function<void()> expired) override;

    // Moves time forward by ms, firing every timer that falls due on the way.
    void advance(qint64 ms);

private:
    class ManualTimer;
    friend class ManualTimer;
    QList<ManualTimer *> m_timers;
    qint64 m_now = 0;
};
