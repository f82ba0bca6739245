#include "window/ConnectionSettings.h"
#include "FakeConnectionLabels.h"
#include "ScriptedCardControl.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTest>
#include <QTimer>

namespace {

// The calls the control saw, written as "OpenLink(3,0,1,1)", so that a wrong sequence shows
// in the failure message as it is.
QStringList callTexts(const ScriptedCardControl &control)
{
    static const QHash<Dispid, QString> names = {
        {Dispid::Version, "Version"},       {Dispid::CommStatus, "CommStatus"},
        {Dispid::ErrorCode, "ErrorCode"},   {Dispid::ResponseCode, "ResponseCode"},
        {Dispid::ResponseData, "ResponseData"}, {Dispid::OpenLink, "OpenLink"},
        {Dispid::CloseLink, "CloseLink"},   {Dispid::StartLink, "StartLink"},
        {Dispid::StopLink, "StopLink"},     {Dispid::SendCommand, "SendCommand"},
        {Dispid::AbortCommand, "AbortCommand"},
    };
    QStringList texts;
    for (const ScriptedCardControl::Call &call : control.calls) {
        QStringList args;
        for (const QVariant &arg : call.args)
            args.append(arg.toString());
        texts.append(names.value(call.id) + '(' + args.join(',') + ')');
    }
    return texts;
}

QStringList reconnection(int port, int speed)
{
    return {"StopLink()", "CloseLink()", QStringLiteral("OpenLink(%1,%2,1,1)").arg(port).arg(speed), "StartLink(0)"};
}

// Clicks the menu entry with this caption ("COM3", "19200bps") through the entry tables the
// window binds its menu with.
void choose(ConnectionSettings &settings, const QString &caption)
{
    for (const auto &item : ConnectionSettings::portItems())
        if (caption == QLatin1String(item.caption))
            return settings.choosePort(item.port);
    for (const auto &item : ConnectionSettings::speedItems())
        if (caption == QLatin1String(item.caption))
            return settings.chooseSpeed(item.code);
    QFAIL(qPrintable("no menu entry " + caption));
}

struct Rig
{
    ScriptedCardControl control;
    FakeConnectionLabels labels;
    QTimer Timer1;
    ConnectionSettings settings{control, labels, Timer1};
};

} // namespace

class TestConnectionSettings : public QObject
{
    Q_OBJECT
private slots:
    void reconnectionOrderWithSettleWaits();
    void menuEntryFromStart_data();
    void menuEntryFromStart();
    void menuEntryTables();
    void choiceKeepsTheOtherValue_data();
    void choiceKeepsTheOtherValue();
    void sameChoiceTwiceReconnectsTwice();
    void labelsShowWhatTheControlWroteBack_data();
    void labelsShowWhatTheControlWroteBack();
    void openResult_data();
    void openResult();
    void choiceDuringSettleWait_data();
    void choiceDuringSettleWait();
    void tickCaughtByAnInnerLoopEndsTheWait();
    void tickLeavesTimerOff_data();
    void tickLeavesTimerOff();
    void menuChoiceAfterNetworkConnection_data();
    void menuChoiceAfterNetworkConnection();
};

void TestConnectionSettings::reconnectionOrderWithSettleWaits()
{
    Rig rig;
    QElapsedTimer clock;
    QHash<Dispid, qint64> at;
    rig.control.beforeCall = [&](Dispid id) { at[id] = clock.nsecsElapsed(); };
    clock.start();

    rig.settings.choosePort(1);

    // Stop and close also when no link was ever opened; start only after the second wait.
    QCOMPARE(callTexts(rig.control), reconnection(1, 0));
    const qint64 ms = 1000 * 1000;
    QVERIFY2(at[Dispid::OpenLink] - at[Dispid::CloseLink] >= 50 * ms,
             qPrintable(QString::number((at[Dispid::OpenLink] - at[Dispid::CloseLink]) / ms)));
    QVERIFY2(at[Dispid::StartLink] - at[Dispid::OpenLink] >= 50 * ms,
             qPrintable(QString::number((at[Dispid::StartLink] - at[Dispid::OpenLink]) / ms)));
    QVERIFY(clock.elapsed() < 10000);
}

void TestConnectionSettings::menuEntryFromStart_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("portLabel");
    QTest::addColumn<QString>("baudLabel");
    for (int n = 1; n <= 9; ++n)
        QTest::addRow("COM%d", n) << QStringLiteral("COM%1").arg(n) << n << 0 << QStringLiteral("Com%1 ,").arg(n)
                                  << QString();
    // The codes follow the device's numbering, not the menu's order of speed.
    QTest::newRow("2400bps") << "2400bps" << 0 << 4 << QString() << "2400bps";
    QTest::newRow("4800bps") << "4800bps" << 0 << 3 << QString() << "4800bps";
    QTest::newRow("9600bps") << "9600bps" << 0 << 2 << QString() << "9600bps";
    QTest::newRow("19200bps") << "19200bps" << 0 << 1 << QString() << "19200bps";
    QTest::newRow("38400bps") << "38400bps" << 0 << 5 << QString() << "38400bps";
}

void TestConnectionSettings::menuEntryFromStart()
{
    QFETCH(QString, entry);
    QFETCH(int, port);
    QFETCH(int, speed);
    QFETCH(QString, portLabel);
    QFETCH(QString, baudLabel);
    Rig rig;

    choose(rig.settings, entry);

    QCOMPARE(callTexts(rig.control), reconnection(port, speed));
    QCOMPARE(rig.settings.PortIndex(), port);
    QCOMPARE(rig.settings.BaudIndex(), speed);
    QCOMPARE(rig.labels.portNmae, QStringLiteral("Setting:="));
    QCOMPARE(rig.labels.port, portLabel);
    QCOMPARE(rig.labels.baud, baudLabel);
    // The value still unset leaves its label alone rather than writing it empty.
    QCOMPARE(rig.labels.writes.size(), 2);
}

void TestConnectionSettings::menuEntryTables()
{
    // The window binds its menu by these names; a wrong pairing would send the wrong code.
    QStringList ports;
    for (const auto &item : ConnectionSettings::portItems())
        ports << QStringLiteral("%1:%2:%3").arg(item.menuName, item.caption).arg(item.port);
    QCOMPARE(ports, QStringList({"mnu_Com1:COM1:1", "mnu_Com2:COM2:2", "mnu_Com3:COM3:3", "mnu_Com4:COM4:4",
                                 "mnu_Com5:COM5:5", "mnu_Com6:COM6:6", "mnu_Com7:COM7:7", "mnu_Com8:COM8:8",
                                 "mnu_Com9:COM9:9"}));
    QStringList speeds;
    for (const auto &item : ConnectionSettings::speedItems())
        speeds << QStringLiteral("%1:%2:%3").arg(item.menuName, item.caption).arg(qint32(item.code));
    QCOMPARE(speeds, QStringList({"mnu_2400bps:2400bps:4", "mnu_4800bps:4800bps:3", "mnu_9600bps:9600bps:2",
                                  "mnu_19200bps:19200bps:1", "mnu_38400bps:38400bps:5"}));
}

void TestConnectionSettings::choiceKeepsTheOtherValue_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("portLabel");
    QTest::addColumn<QString>("baudLabel");
    QTest::newRow("speed then port") << QStringList{"38400bps", "COM2"} << 2 << 5 << "Com2 ," << "38400bps";
    QTest::newRow("port then speed") << QStringList{"COM9", "2400bps"} << 9 << 4 << "Com9 ," << "2400bps";
    QTest::newRow("port after port keeps speed") << QStringList{"4800bps", "COM1", "COM4"} << 4 << 3 << "Com4 ,"
                                                 << "4800bps";
    QTest::newRow("speed after speed keeps port") << QStringList{"COM6", "19200bps", "9600bps"} << 6 << 2
                                                  << "Com6 ," << "9600bps";
}

void TestConnectionSettings::choiceKeepsTheOtherValue()
{
    QFETCH(QStringList, entries);
    QFETCH(int, port);
    QFETCH(int, speed);
    QFETCH(QString, portLabel);
    QFETCH(QString, baudLabel);
    Rig rig;

    for (const QString &entry : entries)
        choose(rig.settings, entry);

    const QList<ScriptedCardControl::Call> opens = rig.control.callsOf(Dispid::OpenLink);
    QCOMPARE(opens.size(), entries.size());
    QCOMPARE(opens.last().args, QVariantList({port, speed, 1, 1}));
    QCOMPARE(rig.labels.port, portLabel);
    QCOMPARE(rig.labels.baud, baudLabel);
}

void TestConnectionSettings::sameChoiceTwiceReconnectsTwice()
{
    Rig rig;
    rig.settings.choosePort(5);
    rig.settings.choosePort(5);
    QCOMPARE(callTexts(rig.control), reconnection(5, 0) + reconnection(5, 0));
    QCOMPARE(rig.labels.port, QStringLiteral("Com5 ,"));
}

void TestConnectionSettings::labelsShowWhatTheControlWroteBack_data()
{
    QTest::addColumn<int>("writesPort"); // -100: writes nothing back
    QTest::addColumn<int>("writesSpeed");
    QTest::addColumn<QString>("portLabel");
    QTest::addColumn<QString>("baudLabel");
    // The labels start as a COM2 at 9600 connection left them.
    QTest::newRow("nothing written back") << -100 << -100 << "Com3 ," << "9600bps";
    QTest::newRow("port rewritten") << 7 << -100 << "Com7 ," << "9600bps";
    QTest::newRow("speed rewritten") << -100 << 5 << "Com3 ," << "38400bps";
    QTest::newRow("port out of range keeps label") << 0 << -100 << "Com2 ," << "9600bps";
    QTest::newRow("port 10 keeps label") << 10 << -100 << "Com2 ," << "9600bps";
    QTest::newRow("speed out of range keeps label") << -100 << 6 << "Com3 ," << "9600bps";
    QTest::newRow("negative speed keeps label") << -100 << -1 << "Com3 ," << "9600bps";
}

void TestConnectionSettings::labelsShowWhatTheControlWroteBack()
{
    QFETCH(int, writesPort);
    QFETCH(int, writesSpeed);
    QFETCH(QString, portLabel);
    QFETCH(QString, baudLabel);
    Rig rig;
    rig.settings.choosePort(2);
    rig.settings.chooseSpeed(SpeedCode::Bps9600);
    if (writesPort != -100)
        rig.control.openWritesPort = writesPort;
    if (writesSpeed != -100)
        rig.control.openWritesSpeed = writesSpeed;

    rig.settings.choosePort(3);

    QCOMPARE(rig.labels.port, portLabel);
    QCOMPARE(rig.labels.baud, baudLabel);
    QCOMPARE(rig.settings.PortIndex(), writesPort != -100 ? writesPort : 3);
    QCOMPARE(rig.settings.BaudIndex(), writesSpeed != -100 ? writesSpeed : 2);
}

void TestConnectionSettings::openResult_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<bool>("throws");
    QTest::newRow("opened") << QVariant(0) << false;
    QTest::newRow("failed, not reported") << QVariant(3) << false;
    QTest::newRow("fraction converts") << QVariant(2.5) << false;
    QTest::newRow("empty converts") << QVariant() << false;
    QTest::newRow("text is a type mismatch") << QVariant(QStringLiteral("busy")) << true;
    QTest::newRow("too large overflows") << QVariant(1e12) << true;
}

void TestConnectionSettings::openResult()
{
    QFETCH(QVariant, result);
    QFETCH(bool, throws);
    Rig rig;
    rig.control.openResult = result;

    bool thrown = false;
    try {
        rig.settings.choosePort(4);
    } catch (const UntrappedError &) {
        thrown = true;
    }

    QCOMPARE(thrown, throws);
    if (!throws) {
        // A link that would not open changes nothing: start and labels follow all the same.
        QCOMPARE(callTexts(rig.control), reconnection(4, 0));
        QCOMPARE(rig.labels.portNmae, QStringLiteral("Setting:="));
        QCOMPARE(rig.labels.port, QStringLiteral("Com4 ,"));
    } else {
        QCOMPARE(rig.control.count(Dispid::StartLink), 0);
        QVERIFY(rig.labels.writes.isEmpty());
    }
}

void TestConnectionSettings::choiceDuringSettleWait_data()
{
    QTest::addColumn<int>("inWait"); // 1: the first settle wait, 2: the second
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("portLabel");
    // The nested reconnection runs to its end first. Inside the first wait, the outer call then
    // opens once more with the values as they now stand; inside the second, it only starts.
    QTest::newRow("first wait") << 1
                                << QStringList{"StopLink()", "CloseLink()", "StopLink()", "CloseLink()",
                                               "OpenLink(8,1,1,1)", "StartLink(0)", "OpenLink(8,1,1,1)",
                                               "StartLink(0)"}
                                << "Com8 ,";
    QTest::newRow("second wait") << 2
                                 << QStringList{"StopLink()", "CloseLink()", "OpenLink(1,1,1,1)", "StopLink()",
                                                "CloseLink()", "OpenLink(8,1,1,1)", "StartLink(0)",
                                                "StartLink(0)"}
                                 << "Com8 ,";
}

void TestConnectionSettings::choiceDuringSettleWait()
{
    QFETCH(int, inWait);
    QFETCH(QStringList, calls);
    QFETCH(QString, portLabel);
    Rig rig;
    rig.settings.chooseSpeed(SpeedCode::Bps19200);
    rig.control.clearCalls();
    rig.labels.writes.clear();

    // The operator picks COM8 while the wait after this call runs.
    const Dispid trigger = inWait == 1 ? Dispid::CloseLink : Dispid::OpenLink;
    bool armed = true;
    rig.control.beforeCall = [&](Dispid id) {
        if (armed && id == trigger) {
            armed = false;
            QTimer::singleShot(0, &rig.settings, [&] { rig.settings.choosePort(8); });
        }
    };
    QElapsedTimer clock;
    clock.start();

    rig.settings.choosePort(1);

    QCOMPARE(callTexts(rig.control), calls);
    // Both calls wrote their labels, the nested one first; the outer one's texts stand.
    QCOMPARE(rig.labels.writes.count(QStringLiteral("PortNmae=Setting:=")), 2);
    QCOMPARE(rig.labels.port, portLabel);
    QCOMPARE(rig.labels.baud, QStringLiteral("19200bps"));
    QVERIFY(rig.settings.TimerFired());
    QVERIFY(!rig.Timer1.isActive());
    QVERIFY(clock.elapsed() < 10000);
}

void TestConnectionSettings::tickCaughtByAnInnerLoopEndsTheWait()
{
    // A handler that runs its own wait (a command) inside the settle wait sees Timer1's tick;
    // the settle wait must end once that handler returns, not wait for a tick that never comes.
    Rig rig;
    bool rescued = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        rescued = true;
        rig.settings.Timer1Tick();
    });
    bool armed = true;
    rig.control.beforeCall = [&](Dispid id) {
        if (armed && id == Dispid::CloseLink) {
            armed = false;
            QTimer::singleShot(0, &rig.settings, [&] {
                QEventLoop inner;
                QTimer::singleShot(150, &inner, &QEventLoop::quit);
                inner.exec();
                watchdog.start(10000);
            });
        }
    };

    rig.settings.choosePort(2);

    QVERIFY(!rescued);
    QCOMPARE(callTexts(rig.control), reconnection(2, 0));
}

void TestConnectionSettings::tickLeavesTimerOff_data()
{
    QTest::addColumn<bool>("withinWait");
    QTest::newRow("tick ending a settle wait") << true;
    QTest::newRow("tick without a wait") << false;
}

void TestConnectionSettings::tickLeavesTimerOff()
{
    QFETCH(bool, withinWait);
    Rig rig;
    if (withinWait) {
        rig.settings.chooseSpeed(SpeedCode::Bps4800);
    } else {
        rig.Timer1.start(5);
        QEventLoop loop;
        QObject::connect(&rig.Timer1, &QTimer::timeout, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QVERIFY(rig.settings.TimerFired());
    QVERIFY(!rig.Timer1.isActive());
    QCOMPARE(rig.Timer1.interval(), 0);
    QCOMPARE(rig.control.count(Dispid::StartLink), withinWait ? 1 : 0);
}

void TestConnectionSettings::menuChoiceAfterNetworkConnection_data()
{
    QTest::addColumn<QStringList>("serialBefore");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("portLabel");
    QTest::addColumn<QString>("baudLabel");
    QTest::newRow("speed after a port") << QStringList{"COM2"} << "4800bps" << "Com2 ," << "4800bps";
    QTest::newRow("port after a speed") << QStringList{"38400bps"} << "COM7" << "Com7 ," << "38400bps";
    // With no port ever chosen, the label the network setting emptied stays empty.
    QTest::newRow("speed, no port ever") << QStringList{} << "9600bps" << QString() << "9600bps";
}

void TestConnectionSettings::menuChoiceAfterNetworkConnection()
{
    QFETCH(QStringList, serialBefore);
    QFETCH(QString, entry);
    QFETCH(QString, portLabel);
    QFETCH(QString, baudLabel);
    Rig rig;
    for (const QString &before : serialBefore)
        choose(rig.settings, before);
    // What the address dialog leaves after a network connection.
    rig.labels.setPortNmaeText(QStringLiteral("IP Address := 127 . 0 . 0 . 1"));
    rig.labels.setPortText(QString());
    rig.labels.setBaudText(QString());

    choose(rig.settings, entry);

    QCOMPARE(rig.labels.portNmae, QStringLiteral("Setting:="));
    QCOMPARE(rig.labels.port, portLabel);
    QCOMPARE(rig.labels.baud, baudLabel);
}

QTEST_GUILESS_MAIN(TestConnectionSettings)
#include "tst_connectionsettings.moc"
