// The window's connection menu and address dialog, as the operator reaches them: which calls a
// choice makes on the card control, what the connection labels then show, and that both stay
// usable while a command runs.
#include "ConsoleFixture.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QTest>

class TestConnectionMenu : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void choices_data();
    void choices();
    void reconnectionCallOrder();
    void addressDialogIsOneInstance();
    void setConnectsOverNetworkThenMenuReturnsToSerial();
    void menuChoiceDuringCommandStopsItsLink();

private:
    void trigger(const QString &name) { f->find<QAction>(name)->trigger(); }
    QString label(const QString &name) const { return f->find<QLabel>(name)->text(); }
    std::unique_ptr<ConsoleFixture> f;
};

void TestConnectionMenu::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->window->addressDialog().setMessageSink([this](const QString &text) { f->messages << text; });
    f->window->show();
    f->control->clearCalls();
}

void TestConnectionMenu::cleanup()
{
    f->window->addressDialog().closeDialog();
    f.reset();
}

void TestConnectionMenu::choices_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QVariantList>("lastOpen");
    QTest::addColumn<QString>("portLabel");
    QTest::addColumn<QString>("baudLabel");
    QTest::newRow("COM3 first") << QStringList{"mnu_Com3"} << QVariantList{3, 0, 1, 1} << "Com3 ," << "";
    QTest::newRow("19200 first") << QStringList{"mnu_19200bps"} << QVariantList{0, 1, 1, 1} << "" << "19200bps";
    QTest::newRow("38400 is code 5") << QStringList{"mnu_38400bps"} << QVariantList{0, 5, 1, 1} << "" << "38400bps";
    QTest::newRow("port keeps the chosen speed")
        << QStringList{"mnu_4800bps", "mnu_Com9"} << QVariantList{9, 3, 1, 1} << "Com9 ," << "4800bps";
    QTest::newRow("speed keeps the chosen port")
        << QStringList{"mnu_Com1", "mnu_2400bps"} << QVariantList{1, 4, 1, 1} << "Com1 ," << "2400bps";
}

void TestConnectionMenu::choices()
{
    QFETCH(QStringList, items);
    QFETCH(QVariantList, lastOpen);
    QFETCH(QString, portLabel);
    QFETCH(QString, baudLabel);
    for (const QString &item : items)
        trigger(item);
    QCOMPARE(f->control->count(Dispid::OpenLink), items.size());
    QCOMPARE(f->control->callsOf(Dispid::OpenLink).last().args, lastOpen);
    QCOMPARE(label("lbl_PortNmae"), QStringLiteral("Setting:="));
    QCOMPARE(label("lbl_Port"), portLabel);
    QCOMPARE(label("lbl_Baud"), baudLabel);
}

void TestConnectionMenu::reconnectionCallOrder()
{
    trigger("mnu_Com2");
    trigger("mnu_Com2"); // the same port again reconnects as well
    const QList<Dispid> once = {Dispid::StopLink, Dispid::CloseLink, Dispid::OpenLink, Dispid::StartLink};
    QCOMPARE(f->control->callIds(), once + once);
    QCOMPARE(f->control->callsOf(Dispid::StartLink).last().args, QVariantList{0});
    QCOMPARE(f->control->status(), LinkStatus::Idle);
}

void TestConnectionMenu::addressDialogIsOneInstance()
{
    trigger("mnu_IP");
    QPointer<frm_IP> first = f->window->addressDialog().dialog();
    QVERIFY(first && first->isVisible());
    QVERIFY(!first->parentWidget()); // no owner: the main window stays usable
    first->findChild<QLineEdit *>("txt_IP4")->setText("77");
    trigger("mnu_IP");
    QCOMPARE(f->window->addressDialog().dialog(), first.data());
    QCOMPARE(first->findChild<QLineEdit *>("txt_IP4")->text(), QStringLiteral("77"));
    QVERIFY(f->button("cmd_Mg2Read")->isEnabled());
    QVERIFY(f->control->calls.isEmpty());
}

void TestConnectionMenu::setConnectsOverNetworkThenMenuReturnsToSerial()
{
    trigger("mnu_19200bps");
    trigger("mnu_IP");
    frm_IP *dialog = f->window->addressDialog().dialog();
    const QStringList parts = {"127", "0", "0", "1"};
    for (int i = 0; i < 4; ++i)
        dialog->findChild<QLineEdit *>(QStringLiteral("txt_IP%1").arg(i + 1))->setText(parts[i]);
    f->control->clearCalls();
    dialog->findChild<QPushButton *>("cmd_IPSet")->click();

    QCOMPARE(f->control->callIds(),
             (QList<Dispid>{Dispid::StopLink, Dispid::CloseLink, Dispid::OpenLink, Dispid::StartLink}));
    QCOMPARE(f->control->callsOf(Dispid::OpenLink).last().args, (QVariantList{0x7F000001, -1, -1, -1}));
    QCOMPARE(label("lbl_PortNmae"), QStringLiteral("IP Address := 127 . 0 . 0 . 1"));
    QCOMPARE(label("lbl_Port"), QString());
    QCOMPARE(label("lbl_Baud"), QString());
    QTRY_VERIFY(!f->window->addressDialog().dialog());

    trigger("mnu_Com4");
    QCOMPARE(label("lbl_PortNmae"), QStringLiteral("Setting:="));
    QCOMPARE(label("lbl_Port"), QStringLiteral("Com4 ,"));
    QCOMPARE(label("lbl_Baud"), QStringLiteral("19200bps"));
}

void TestConnectionMenu::menuChoiceDuringCommandStopsItsLink()
{
    trigger("mnu_Com1");
    f->control->outcomes = {neverEnds()};
    f->during(20, [this] {
        QVERIFY(f->find<QAction>("mnu_Com1")->isEnabled());
        trigger("mnu_Com1");
    });
    f->button("cmd_Clear")->click();
    // The reconnection stopped the link under the command; the runner reports what the control
    // then says and the buttons come back.
    QCOMPARE(f->edit("dis_Ocx")->text(), QStringLiteral("-1"));
    QCOMPARE(f->edit("dis_Code")->text(), QString());
    QVERIFY(f->allGated(true));
    QCOMPARE(f->control->status(), LinkStatus::Idle);
}

QTEST_MAIN(TestConnectionMenu)
#include "tst_connectionmenu.moc"
