#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <functional>
#include <memory>

// The command exchange's sense of time: a monotonic reading and one-shot timers. The control runs
// on the system's clock; a test hands the exchange a clock it advances by hand, so that the
// time-out and the quiet-line bounds are checked to the millisecond, deterministically.
class ExchangeClock
{
public:
    class Timer
    {
    public:
        virtual ~Timer() = default;
        // (Re)starts the timer: it calls back once, ms from now, unless stopped first.
        virtual void start(int ms) = 0;
        virtual void stop() = 0;
    };

    // Precise: the timer may not fire late by a fraction of its interval (a coarse timer may be
    // 5 % late, a second and a half on a 30-second command).
    enum class Precision { Coarse, Precise };

    virtual ~ExchangeClock() = default;
    // Milliseconds since a fixed point of this clock.
    virtual qint64 nowMs() const = 0;
    virtual std::unique_ptr<Timer> makeTimer(Precision precision, std::function<void()> expired) = 0;
};

// The system's monotonic clock and Qt's timers, which fire from the event loop.
class SystemExchangeClock : public ExchangeClock
{
public:
    SystemExchangeClock();
    qint64 nowMs() const override;
    std::unique_ptr<Timer> makeTimer(Precision precision, std::function<void()> expired) override;

private:
    QElapsedTimer m_origin;
};
