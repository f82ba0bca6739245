#include "control/ExchangeClock.h"

#include <QTimer>

namespace {

class QtTimer : public ExchangeClock::Timer
{
public:
    QtTimer(ExchangeClock::Precision precision, std::function<void()> expired)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(precision == ExchangeClock::Precision::Precise ? Qt::PreciseTimer : Qt::CoarseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(expired));
    }
    void start(int ms) override { m_timer.start(ms); }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

} // namespace

SystemExchangeClock::SystemExchangeClock()
{
    m_origin.start();
}

qint64 SystemExchangeClock::nowMs() const
{
    return m_origin.elapsed();
}

std::unique_ptr<ExchangeClock::Timer> SystemExchangeClock::makeTimer(Precision precision, std::function<void()> expired)
{
    return std::make_unique<QtTimer>(precision, std::move(expired));
}
