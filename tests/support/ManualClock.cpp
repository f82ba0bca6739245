#include "ManualClock.h"

class ManualClock::ManualTimer : public ExchangeClock::Timer
{
public:
    ManualTimer(ManualClock &clock, std::function<void()> expired) : m_clock(clock), m_expired(std::move(expired))
    {
        m_clock.m_timers.append(this);
    }
    ~ManualTimer() override { m_clock.m_timers.removeOne(this); }
    void start(int ms) override { m_due = m_clock.m_now + ms; }
    void stop() override { m_due = -1; }

    ManualClock &m_clock;
    std::function<void()> m_expired;
    qint64 m_due = -1; // -1: not running
};

std::unique_ptr<ExchangeClock::Timer> ManualClock::makeTimer(Precision, std::function<void()> expired)
{
    return std::make_unique<ManualTimer>(*this, std::move(expired));
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = m_now + ms;
    for (;;) {
        ManualTimer *next = nullptr;
        for (ManualTimer *timer : std::as_const(m_timers)) {
            if (timer->m_due >= 0 && timer->m_due <= target && (!next || timer->m_due < next->m_due))
                next = timer;
        }
        if (!next)
            break;
        m_now = next->m_due;
        next->m_due = -1;
        next->m_expired();
    }
    m_now = target;
}
