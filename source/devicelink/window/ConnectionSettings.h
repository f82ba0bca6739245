#pragma once

#include "protocol/LineSpeeds.h"
#include "window/CardCalls.h"
#include "window/ConnectionLabels.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class QTimer;

// The serial connection chosen from the "Com Setting" menu. Every port or speed choice stores
// its value and re-establishes the card control's link: stop, close, settle, open, settle,
// start, then the three connection labels.
//
// The settle wait is timed by the window's Timer1. The constructor connects Timer1's timeout
// to Timer1Tick() and makes it a precise timer, so that a settle wait never ends before its
// interval (a coarse timer may fire a little early). The window must not connect the timeout
// a second time.
class ConnectionSettings : public QObject
{
    Q_OBJECT
public:
    struct PortItem
    {
        const char *menuName; // objectName of the menu entry, e.g. "mnu_Com3"
        const char *caption;  // "COM3"
        int port;             // 3
    };
    struct SpeedItem
    {
        const char *menuName; // "mnu_2400bps"
        const char *caption;  // "2400bps"
        SpeedCode code;       // SpeedCode::Bps2400
    };

    ConnectionSettings(CardControl &control, ConnectionLabels &labels, QTimer &Timer1,
                       QObject *parent = nullptr);

    // The menu entries in menu order, so that the window can bind them in a loop; one port entry
    // per COM of LinkEndpoints.
    static QList<PortItem> portItems();
    static QList<SpeedItem> speedItems();

    // Label texts: "Com3 ," for port 3, "19200bps" for speed code 1; nothing outside COM1-COM9
    // (LinkEndpoints::kFirstCom to kLastCom) / speed codes 1-5.
    static std::optional<QString> portText(qint32 port);
    static std::optional<QString> speedText(qint32 speedCode);

    qint32 PortIndex() const { return m_PortIndex; }
    qint32 BaudIndex() const { return m_BaudIndex; }
    bool TimerFired() const { return m_TimerFired; }

    // Click on mnu_Com1 .. mnu_Com9 (n = 1..9): store n as the port and reconnect. The speed
    // keeps its last value.
    void choosePort(int n);
    // Click on one of the five speed entries: store its code and reconnect. The port keeps its
    // last value.
    void chooseSpeed(SpeedCode code);

    void ApplyConnection();
    // Processes window events until Timer1 has ticked once after `ms` milliseconds. Blocks in
    // the event dispatcher between passes instead of spinning. Handlers that run meanwhile may
    // start a nested wait; its tick ends this wait too.
    void SettleWait(const qint16 &ms);
    // Timer1's tick: switches the timer off (interval 0, stopped) and ends the settle wait.
    void Timer1Tick();

private:
    CardCalls m_calls;
    ConnectionLabels &m_labels;
    QTimer &m_Timer1;
    qint32 m_PortIndex = 0;
    qint32 m_BaudIndex = 0;
    bool m_TimerFired = false;
};
