#include "window/ConnectionSettings.h"

#include "transport/LinkEndpoints.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace {

constexpr qint16 kSettleMs = 50;

} // namespace

ConnectionSettings::ConnectionSettings(CardControl &control, ConnectionLabels &labels, QTimer &Timer1,
                                       QObject *parent)
    : QObject(parent), m_calls(control), m_labels(labels), m_Timer1(Timer1)
{
    m_Timer1.setTimerType(Qt::PreciseTimer);
    connect(&m_Timer1, &QTimer::timeout, this, &ConnectionSettings::Timer1Tick);
}

QList<ConnectionSettings::PortItem> ConnectionSettings::portItems()
{
    // One entry per COM the endpoints know ("mnu_Com3", "COM3"); the texts are made once and
    // kept, so that the items can hand them out as plain C strings.
    struct Texts
    {
        QByteArray menuName, caption;
    };
    static const QList<Texts> texts = [] {
        QList<Texts> all;
        for (int port = LinkEndpoints::kFirstCom; port <= LinkEndpoints::kLastCom; ++port)
            all.append({"mnu_Com" + QByteArray::number(port), "COM" + QByteArray::number(port)});
        return all;
    }();
    QList<PortItem> items;
    int port = LinkEndpoints::kFirstCom;
    for (const Texts &text : texts)
        items.append({text.menuName.constData(), text.caption.constData(), port++});
    return items;
}

QList<ConnectionSettings::SpeedItem> ConnectionSettings::speedItems()
{
    // Each entry is named after its label ("mnu_2400bps"); the names are made once and kept, so
    // that the items can hand them out as plain C strings like the port items.
    static const QList<QByteArray> menuNames = [] {
        QList<QByteArray> names;
        for (const LineSpeeds::LineSpeed &speed : LineSpeeds::all())
            names << QByteArray("mnu_") + speed.label;
        return names;
    }();
    QList<SpeedItem> items;
    qsizetype i = 0;
    for (const LineSpeeds::LineSpeed &speed : LineSpeeds::all())
        items.append({menuNames[i++].constData(), speed.label, speed.code});
    return items;
}

std::optional<QString> ConnectionSettings::portText(qint32 port)
{
    if (port < LinkEndpoints::kFirstCom || port > LinkEndpoints::kLastCom)
        return std::nullopt;
    return QStringLiteral("Com%1 ,").arg(port);
}

std::optional<QString> ConnectionSettings::speedText(qint32 speedCode)
{
    return LineSpeeds::label(speedCode);
}

void ConnectionSettings::choosePort(int n)
{
    m_PortIndex = n;
    ApplyConnection();
}

void ConnectionSettings::chooseSpeed(SpeedCode code)
{
    m_BaudIndex = qint32(code);
    ApplyConnection();
}

void ConnectionSettings::ApplyConnection()
{
    // The waits run window handlers; if one of them tears the window down, stop here rather
    // than touch what is gone.
    const QPointer<ConnectionSettings> self(this);

    m_calls.StopLink();
    m_calls.CloseLink();
    SettleWait(kSettleMs);
    if (!self)
        return;
    // The control receives the members themselves: whatever it writes back into them is what
    // the labels show below.
    m_calls.OpenLink(m_PortIndex, m_BaudIndex, 1, 1);
    SettleWait(kSettleMs);
    if (!self)
        return;
    m_calls.StartLink(0);

    m_labels.setPortNmaeText(QStringLiteral("Setting:="));
    if (const auto text = portText(m_PortIndex))
        m_labels.setPortText(*text);
    if (const auto text = speedText(m_BaudIndex))
        m_labels.setBaudText(*text);
}

void ConnectionSettings::SettleWait(const qint16 &ms)
{
    const QPointer<ConnectionSettings> self(this);

    m_Timer1.setInterval(ms);
    m_Timer1.start();
    m_TimerFired = false;

    // One pass over what is pending, then block until the next event instead of spinning.
    // A nested wait started by a handler restarts Timer1 and clears the flag; the tick that
    // ends it sets the flag again, which ends this wait as soon as control returns here.
    QCoreApplication::processEvents();
    while (self && !m_TimerFired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ConnectionSettings::Timer1Tick()
{
    m_Timer1.setInterval(0);
    m_Timer1.stop();
    m_TimerFired = true;
}
