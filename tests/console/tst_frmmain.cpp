#include "ConsoleFixture.h"
#include "Fonts.h"

#include <QAction>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialState();
    void controls_data();
    void controls();
    void textsRenderWithoutEmptyBoxes();
    void headingsAreRed();
    void windowGeometry();
    void arrangementFollowsRowOrder();
    void menu_data();
    void menu();
    void menuOrder_data();
    void menuOrder();
    void timer1IsIdle();
    void versionShown_data();
    void versionShown();
    void startupOpensNoConnection();
    void tabOrder();
    void accessKeys_data();
    void accessKeys();
    void disabledButtonIgnoresAccessKey();
    void gatingOrder();
    void blankButtonsStayDisabled();
    void cancelWhileIdle();
    void cancelWhileBusyEnablesAtOnce();
    void nestedRunAfterCancel();
    void shutdown_data();
    void shutdown();
    void closeDuringWaitEndsProgram();

private:
    void showActive();
    std::unique_ptr<ConsoleFixture> f;
};

void TestMainWindow::initTestCase()
{
    installFontSubstitutions();
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void TestMainWindow::init()
{
    f = std::make_unique<ConsoleFixture>();
}

void TestMainWindow::cleanup()
{
    f.reset();
}

void TestMainWindow::showActive()
{
    f->window->show();
    f->window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
}

void TestMainWindow::initialState()
{
    f->window->show();
    QCOMPARE(f->window->windowTitle(), QStringLiteral("Kestraシリーズ Brindle Ver2.50"));
    QCOMPARE(f->find<QLabel>("lbl_PortNmae")->text(), QStringLiteral("Setting : ="));
    QCOMPARE(f->find<QLabel>("lbl_Port")->text(), QString());
    QCOMPARE(f->find<QLabel>("lbl_Baud")->text(), QString());
    QCOMPARE(f->find<QLabel>("lbl_Ver")->text(), QStringLiteral("3"));
    QVERIFY(f->find<QRadioButton>("opt_DSR")->isChecked());
    QVERIFY(!f->find<QRadioButton>("opt_NoDSR")->isChecked());
    QVERIFY(!f->find<QCheckBox>("opt_Bin")->isChecked());
    for (const char *name : {"txt_UserCommand", "txt_UserParameter", "txt_UserTimeout", "dis_Cmd", "dis_Code",
                             "dis_KestraData", "dis_Ocx"}) {
        QLineEdit *box = f->edit(name);
        QVERIFY2(box->text().isEmpty(), name);
        QVERIFY2(!box->isReadOnly() && box->isEnabled(), name);
        QVERIFY2(box->maxLength() >= 100000, name);
    }
    QVERIFY(f->allGated(true));
    QVERIFY(f->button("cmd_Cancel")->isEnabled());
    QVERIFY(!f->button("cmd_A")->isEnabled());
    QVERIFY(!f->button("cmd_B")->isEnabled());
    QCOMPARE(f->window->focusWidget(), f->edit("txt_UserCommand"));
    for (QWidget *w : f->window->findChildren<QWidget *>()) {
        if (!qobject_cast<QMenu *>(w) && !w->objectName().startsWith("qt_"))
            QVERIFY2(w->isVisible(), qPrintable(w->objectName()));
    }
    // 100,000 characters fit in a box.
    f->edit("txt_UserParameter")->setText(QString(100000, u'x'));
    QCOMPARE(f->edit("txt_UserParameter")->text().size(), 100000);
}

void TestMainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("points");

    const QString pGothic = QStringLiteral("ＭＳ Ｐゴシック");
    const QString gothic = QStringLiteral("ＭＳ ゴシック");
    const QString arial = QStringLiteral("Arial");
    auto row = [](const char *name, const QString &text, const QString &tip, const QString &family, int points) {
        QTest::newRow(name) << QString::fromLatin1(name) << text << tip << family << points;
    };
    row("lbl_PortNmae", "Setting : =", "", arial, 9);
    row("lbl_Baud", "", "", arial, 9);
    row("lbl_Port", "", "", arial, 9);
    row("Label22", "OCX Ver : =", "", arial, 9);
    row("lbl_Ver", "3", "", arial, 9);
    row("cmdRewrite", QStringLiteral("サンプル印字データ送信→リライト→カード排出(&E)"), "", pGothic, 9);
    row("cmdMagwrite", QStringLiteral("Para欄の磁気データ書込み→カード排出(&W)"),
        QStringLiteral("パラメーター欄のデータを磁気に書き込みます"), pGothic, 9);
    row("Label18", "Any Command", "", arial, 9);
    row("Label3", "Command", QStringLiteral("コマンド仕様書から指示を出してください"), arial, 9);
    row("txt_UserCommand", "", "", arial, 12);
    row("cmd_Send", QStringLiteral("←任意コマンド送信(&S)"), "", pGothic, 9);
    row("cmd_Cancel", QStringLiteral("OCXキャンセル(&C)"), "", pGothic, 9);
    row("opt_Bin", "BIN", "", arial, 9);
    row("Label4", "Parameter", "", arial, 9);
    row("txt_UserParameter", "", "", gothic, 12);
    row("Label5", "Time Out ( Invalid when 0ms )", "", arial, 9);
    row("txt_UserTimeout", "", "", arial, 12);
    row("Label15", "msec", "", arial, 9);
    row("Frame1", "DSR Check", "", arial, 9);
    row("opt_DSR", "Check", "If DSR signal is not active, you can check Kestra's power. ", arial, 9);
    row("opt_NoDSR", "No Check", "", arial, 9);
    row("cmd_Mg2Read", QStringLiteral("磁気リード"), "", pGothic, 9);
    row("cmd_Exit", QStringLiteral("カード排出"), "", pGothic, 9);
    row("cmd_Clear", QStringLiteral("バッファ消去"), "", pGothic, 9);
    row("cmd_Reset", QStringLiteral("リセット"), "", pGothic, 9);
    row("cmd_Erase", QStringLiteral("カード消去"), "", pGothic, 9);
    row("cmd_A", "Blank", "", pGothic, 9);
    row("cmd_B", "Blank", "", pGothic, 9);
    row("Label19", "Response", "", arial, 9);
    row("Label2", "Command", "", arial, 9);
    row("dis_Cmd", "", "", arial, 12);
    row("Label1", "Kestra Response", QStringLiteral("Kestraからのステータスを表示します"), pGothic, 9);
    row("dis_Code", "", "", arial, 12);
    row("Label10", "Data from Kestra", QStringLiteral("Kestraからのピックアップデータです"), arial, 9);
    row("dis_KestraData", "", "", arial, 12);
    row("Label7", "RsCom", "", arial, 9);
    row("dis_Ocx", "", "", arial, 12);
    row("cmdEnd", QStringLiteral("デモ終了(&Q)"), "", pGothic, 9);
}

void TestMainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(QString, family);
    QFETCH(int, points);
    f->window->show();
    QWidget *control = f->find(name);
    QString shown;
    if (auto label = qobject_cast<QLabel *>(control))
        shown = label->text();
    else if (auto button = qobject_cast<QAbstractButton *>(control))
        shown = button->text();
    else if (auto box = qobject_cast<QGroupBox *>(control))
        shown = box->title();
    else if (auto edit = qobject_cast<QLineEdit *>(control))
        shown = edit->text();
    QCOMPARE(shown, text);
    QCOMPARE(control->toolTip(), toolTip);
    QCOMPARE(control->font().family(), family);
    QCOMPARE(control->font().pointSize(), points);
    QVERIFY(control->font().bold());

    static const QHash<QString, QString> standIns = {{QStringLiteral("ＭＳ Ｐゴシック"), "IPAPGothic"},
                                                     {QStringLiteral("ＭＳ ゴシック"), "IPAGothic"},
                                                     {"Arial", "Liberation Sans"}};
    QCOMPARE(QFontInfo(control->font()).family(), standIns.value(family));

    const QStringList centred = {"txt_UserCommand", "txt_UserTimeout", "dis_Cmd", "dis_Code", "dis_Ocx"};
    if (auto edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(bool(edit->alignment() & Qt::AlignHCenter), centred.contains(name));
}

void TestMainWindow::textsRenderWithoutEmptyBoxes()
{
    f->window->show();
    int checked = 0;
    auto checkText = [&](QWidget *w, QString text) {
        text.remove(QLatin1Char('&'));
        const QFontMetrics metrics(w->font());
        for (const char32_t c : text.toUcs4()) {
            QVERIFY2(metrics.inFontUcs4(c),
                     qPrintable(QStringLiteral("%1: U+%2").arg(w->objectName()).arg(uint(c), 4, 16)));
            ++checked;
        }
    };
    for (QWidget *w : f->window->findChildren<QWidget *>()) {
        if (auto label = qobject_cast<QLabel *>(w))
            checkText(w, label->text() + label->toolTip());
        else if (auto button = qobject_cast<QAbstractButton *>(w))
            checkText(w, button->text());
        else if (auto box = qobject_cast<QGroupBox *>(w))
            checkText(w, box->title());
        else if (auto menu = qobject_cast<QMenu *>(w))
            for (QAction *action : menu->actions())
                checkText(w, action->text());
    }
    // What the operator may type or the device may send shows in the text boxes' fonts.
    checkText(f->edit("txt_UserParameter"), QStringLiteral("カードｶｰﾄﾞ磁気$"));
    checkText(f->edit("dis_KestraData"), QStringLiteral("カードｶｰﾄﾞ磁気\uFFFD"));
    QVERIFY(checked > 200);
}

void TestMainWindow::headingsAreRed()
{
    for (QLabel *label : f->window->findChildren<QLabel *>()) {
        const QColor colour = label->palette().color(QPalette::WindowText);
        const bool heading = label->objectName() == "Label18" || label->objectName() == "Label19";
        QCOMPARE(colour == QColor(255, 0, 0), heading);
    }
}

void TestMainWindow::windowGeometry()
{
    f->window->show();
    const qreal scale = f->window->screen()->logicalDotsPerInchY() / 96.0;
    QWidget *client = f->window->centralWidget();
    QCOMPARE(client->size(), QSize(qRound(602 * scale), qRound(414 * scale)));
    QCOMPARE(f->window->minimumSize(), f->window->maximumSize());
    QCOMPARE(f->window->size(), f->window->minimumSize());
    QVERIFY(client->y() >= f->window->menuBar()->height() || f->window->menuBar()->isNativeMenuBar());
    const QPoint centre = f->window->screen()->availableGeometry().center();
    QVERIFY(qAbs(f->window->frameGeometry().center().x() - centre.x()) <= 1);
    QVERIFY(qAbs(f->window->frameGeometry().center().y() - centre.y()) <= 1);
    for (QWidget *w : client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        QVERIFY2(client->rect().contains(w->geometry()), qPrintable(w->objectName()));
}

void TestMainWindow::arrangementFollowsRowOrder()
{
    auto top = [&](const char *name) { return f->find(name)->geometry().top(); };
    auto bottom = [&](const char *name) { return f->find(name)->geometry().bottom(); };
    const QList<const char *> rows = {"Line4",          "lbl_PortNmae",    "cmdRewrite", "cmdMagwrite",
                                      "Label18",        "txt_UserCommand", "txt_UserParameter",
                                      "txt_UserTimeout", "Line2",          "cmd_Mg2Read", "Line5",
                                      "Label19",        "dis_Cmd",         "dis_Code",   "dis_KestraData",
                                      "dis_Ocx"};
    for (int i = 1; i < rows.size(); ++i)
        QVERIFY2(top(rows[i]) > bottom(rows[i - 1]), rows[i]);
    const QList<const char *> buttonRow = {"cmd_Mg2Read", "cmd_Exit", "cmd_Clear", "cmd_Reset",
                                           "cmd_Erase",   "cmd_A",    "cmd_B"};
    for (int i = 1; i < buttonRow.size(); ++i) {
        QCOMPARE(top(buttonRow[i]), top("cmd_Mg2Read"));
        QVERIFY(f->find(buttonRow[i])->x() > f->find(buttonRow[i - 1])->geometry().right());
    }
    const int half = f->window->centralWidget()->width() / 2;
    QVERIFY(f->find("cmdRewrite")->x() >= half && f->find("cmdMagwrite")->x() >= half);
    QVERIFY(f->find("lbl_Ver")->x() > half && f->find("lbl_PortNmae")->x() < half);
    QVERIFY(f->find("cmd_Send")->x() > f->find("txt_UserCommand")->geometry().right());
    QVERIFY(f->find("cmd_Cancel")->x() > f->find("cmd_Send")->geometry().right());
    QVERIFY(f->find("opt_Bin")->geometry().right() < f->find("txt_UserParameter")->x());
    QVERIFY(f->find("Frame1")->x() > f->find("txt_UserTimeout")->geometry().right());
    QVERIFY(f->find("cmdEnd")->geometry().right() > f->find("dis_Ocx")->geometry().right());
    QVERIFY(top("cmdEnd") >= top("dis_Ocx") - 4);
    QVERIFY(f->find("dis_KestraData")->width() > 3 * f->find("dis_Code")->width());
}

void TestMainWindow::menu_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("under");
    QTest::newRow("Port") << "mnu_Port" << "Port" << "mnu_ComSetting";
    QTest::newRow("Baud Rate") << "mnu_" << "Baud Rate" << "mnu_ComSetting";
    QTest::newRow("IP Address") << "mnu_IP" << "IP Address" << "mnu_ComSetting";
    for (int i = 1; i <= 9; ++i)
        QTest::newRow(qPrintable(QStringLiteral("COM%1").arg(i)))
            << QStringLiteral("mnu_Com%1").arg(i) << QStringLiteral("COM%1").arg(i) << "mnu_Port";
    for (const char *speed : {"2400", "4800", "9600", "19200", "38400"})
        QTest::newRow(speed) << QStringLiteral("mnu_%1bps").arg(speed) << QStringLiteral("%1bps").arg(speed)
                             << "mnu_";
}

void TestMainWindow::menu()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, under);
    QMenuBar *bar = f->window->menuBar();
    QCOMPARE(bar->actions().size(), 1);
    QMenu *top = f->window->findChild<QMenu *>("mnu_ComSetting");
    QVERIFY(top);
    QCOMPARE(bar->actions().first(), top->menuAction());
    QCOMPARE(top->title(), QStringLiteral("Com Setting"));

    QAction *action = nullptr;
    if (QMenu *submenu = f->window->findChild<QMenu *>(name))
        action = submenu->menuAction();
    else
        action = f->window->findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QVERIFY(!action->isCheckable());
    QVERIFY(action->shortcut().isEmpty());
    QVERIFY(!action->text().contains(QLatin1Char('&')));
    QVERIFY(f->window->findChild<QMenu *>(under)->actions().contains(action));
}

void TestMainWindow::menuOrder_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("Com Setting") << "mnu_ComSetting" << QStringList{"Port", "Baud Rate", "IP Address"};
    QStringList ports;
    for (int i = 1; i <= 9; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    QTest::newRow("Port") << "mnu_Port" << ports;
    QTest::newRow("Baud Rate, ascending speed")
        << "mnu_" << QStringList{"2400bps", "4800bps", "9600bps", "19200bps", "38400bps"};
}

void TestMainWindow::menuOrder()
{
    // What the operator sees when the menu opens, top to bottom, with nothing in between.
    QFETCH(QString, menu);
    QFETCH(QStringList, entries);
    QStringList shown;
    for (const QAction *action : f->find<QMenu>(menu)->actions())
        shown << (action->isSeparator() ? QStringLiteral("<separator>") : action->text());
    QCOMPARE(shown, entries);
}

void TestMainWindow::timer1IsIdle()
{
    f->window->show();
    QCOMPARE(f->window->Timer1().objectName(), QStringLiteral("Timer1"));
    QCOMPARE(f->window->Timer1().interval(), 0);
    QVERIFY(!f->window->Timer1().isActive());
}

void TestMainWindow::versionShown_data()
{
    QTest::addColumn<QVariant>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("2.5") << QVariant(2.5) << "2";
    QTest::newRow("3.5") << QVariant(3.5) << "4";
    QTest::newRow("2.6") << QVariant(2.6) << "3";
    QTest::newRow("negative") << QVariant(-12) << "-12";
    QTest::newRow("empty") << QVariant() << "0";
    QTest::newRow("text") << QVariant(QStringLiteral(" 007 ")) << "7";
}

void TestMainWindow::versionShown()
{
    QFETCH(QVariant, version);
    QFETCH(QString, shown);
    f->control->version = version;
    f->window->show();
    QCOMPARE(f->find<QLabel>("lbl_Ver")->text(), shown);
}

void TestMainWindow::startupOpensNoConnection()
{
    AddressState &address = f->window->addressState();
    address.IPOctet1 = 1;
    address.IPOctet4 = 9;
    f->window->show();
    QCOMPARE(address.dottedText(), QStringLiteral("192.168.0.0"));
    address.IPOctet4 = 7;
    f->window->hide();
    f->window->show(); // the load runs once
    QCOMPARE(address.IPOctet4, quint8(7));
    QCOMPARE(f->control->callIds(), QList<Dispid>{Dispid::Version});
    QCOMPARE(f->control->status(), LinkStatus::NoLink);
}

void TestMainWindow::tabOrder()
{
    showActive();
    const QStringList expected = {"txt_UserCommand", "txt_UserParameter", "txt_UserTimeout", "cmd_Send",
                                  "dis_Code",        "dis_Cmd",           "opt_DSR",         "dis_Ocx",
                                  "dis_KestraData",  "cmd_Exit",          "cmd_Erase",       "cmd_Clear",
                                  "cmd_Cancel",      "cmd_Reset",         "opt_Bin",         "cmd_Mg2Read",
                                  "cmdEnd",          "cmdMagwrite",       "cmdRewrite",      "txt_UserCommand"};
    QStringList seen = {QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(seen, expected);

    // The option pair is one stop whichever option is selected; the arrow keys move inside it.
    f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
    f->edit("dis_Cmd")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget()->parentWidget() == f->find("Frame1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("dis_Ocx"));
}

void TestMainWindow::accessKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("button");
    QTest::newRow("Alt+E") << int(Qt::Key_E) << "cmdRewrite";
    QTest::newRow("Alt+W") << int(Qt::Key_W) << "cmdMagwrite";
    QTest::newRow("Alt+S") << int(Qt::Key_S) << "cmd_Send";
    QTest::newRow("Alt+C") << int(Qt::Key_C) << "cmd_Cancel";
    QTest::newRow("Alt+Q") << int(Qt::Key_Q) << "cmdEnd";
}

void TestMainWindow::accessKeys()
{
    QFETCH(int, key);
    QFETCH(QString, button);
    showActive();
    f->control->clearCalls();
    QSignalSpy clicked(f->button(button), &QAbstractButton::clicked);
    QTest::keyClick(f->window.get(), Qt::Key(key), Qt::AltModifier);
    QVERIFY(clicked.count() == 1 || clicked.wait(5000));
    const QMap<QString, QList<int>> codes = {
        {"cmdRewrite", {65, 70}}, {"cmdMagwrite", {57, 49, 80}}, {"cmd_Send", {0}}, {"cmd_Cancel", {}}, {"cmdEnd", {}}};
    QCOMPARE(f->sentCodes(), codes.value(button));
    QCOMPARE(f->control->count(Dispid::AbortCommand), button == "cmd_Cancel" ? 1 : 0);
    QCOMPARE(f->ends, button == "cmdEnd" ? QList<int>{0} : QList<int>{});
}

void TestMainWindow::disabledButtonIgnoresAccessKey()
{
    showActive();
    f->control->outcomes = {neverEnds()};
    f->during(0, [&] { QTest::keyClick(f->window.get(), Qt::Key_E, Qt::AltModifier); });
    f->during(400, [&] { f->button("cmd_Cancel")->click(); });
    f->button("cmd_Exit")->click();
    QCOMPARE(f->sentCodes(), QList<int>{80});
    QVERIFY(f->allGated(true));
}

void TestMainWindow::gatingOrder()
{
    // Records the order in which the gated buttons change their enabled state.
    class Recorder : public QObject
    {
    public:
        QStringList order;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::EnabledChange)
                order << watched->objectName() + (static_cast<QWidget *>(watched)->isEnabled() ? "+" : "-");
            return false;
        }
    } recorder;
    for (QPushButton *b : f->window->findChildren<QPushButton *>())
        b->installEventFilter(&recorder);
    f->button("cmd_Clear")->click();

    QStringList expected;
    for (const QString &name : ConsoleFixture::gatedNames())
        expected << name + "-";
    for (const QString &name : ConsoleFixture::gatedNames())
        expected << name + "+";
    QCOMPARE(recorder.order, expected);
}

void TestMainWindow::blankButtonsStayDisabled()
{
    f->button("cmd_Reset")->click();
    f->button("cmd_Cancel")->click();
    QVERIFY(!f->button("cmd_A")->isEnabled());
    QVERIFY(!f->button("cmd_B")->isEnabled());
    f->button("cmd_A")->click();
    f->button("cmd_B")->click();
    QCOMPARE(f->sentCodes(), QList<int>{95});
}

void TestMainWindow::cancelWhileIdle()
{
    f->button("cmd_Cancel")->click();
    QCOMPARE(f->control->callIds(), QList<Dispid>{Dispid::AbortCommand});
    QVERIFY(f->allGated(true));
}

void TestMainWindow::cancelWhileBusyEnablesAtOnce()
{
    f->control->outcomes = {neverEnds()};
    bool disabledBefore = false;
    bool enabledAfterCancel = false;
    f->during(0, [&] {
        disabledBefore = f->allGated(false) && f->button("cmd_Cancel")->isEnabled();
        f->button("cmd_Cancel")->click();
        enabledAfterCancel = f->allGated(true);
    });
    f->button("cmd_Erase")->click();
    QVERIFY(disabledBefore);
    QVERIFY(enabledAfterCancel);
    QVERIFY(f->allGated(true));
    QCOMPARE(f->edit("dis_Ocx")->text(), QStringLiteral("-1")); // abandoned: 106
    QCOMPARE(f->edit("dis_Code")->text(), QString());
    QCOMPARE(f->beeps, 1);
}

void TestMainWindow::nestedRunAfterCancel()
{
    f->control->outcomes = {neverEnds(), runsFor(10, 0, 0x21, "nested")};
    f->during(0, [&] {
        f->button("cmd_Cancel")->click();
        f->button("cmd_Clear")->click(); // runs to its end inside the magnetic read's wait
    });
    f->button("cmd_Mg2Read")->click();
    QCOMPARE(f->sentCodes(), (QList<int>{34, 73}));
    // The outer run reports the control's state as the nested command left it.
    QCOMPARE(f->edit("dis_Cmd")->text(), QStringLiteral("&h 49"));
    QCOMPARE(f->edit("dis_Code")->text(), QStringLiteral("&H 21"));
    QCOMPARE(f->edit("dis_KestraData")->text(), QStringLiteral("nested"));
    QCOMPARE(f->edit("dis_Ocx")->text(), QStringLiteral("-1"));
    QCOMPARE(f->beeps, 2);
    QVERIFY(f->allGated(true));
}

void TestMainWindow::shutdown_data()
{
    QTest::addColumn<bool>("viaEndButton");
    QTest::newRow("cmdEnd") << true;
    QTest::newRow("close box") << false;
}

void TestMainWindow::shutdown()
{
    QFETCH(bool, viaEndButton);
    f->window->show();
    QList<Dispid> callsAtEnd;
    f->window->addressDialog().setMessageSink([](const QString &) {});
    f->find<QAction>("mnu_IP")->trigger();
    QPointer<frm_IP> dialog = f->window->addressDialog().dialog();
    QVERIFY(dialog && dialog->isVisible());
    bool dialogOpenAtEnd = true;
    f->window->setEndProgram([&](int status) {
        f->ends << status;
        callsAtEnd = f->control->callIds();
        dialogOpenAtEnd = dialog && dialog->isVisible();
    });
    f->control->clearCalls();
    if (viaEndButton)
        f->button("cmdEnd")->click();
    else
        f->window->close(); // what the close box does
    QCOMPARE(f->ends, QList<int>{0});
    QVERIFY(!dialogOpenAtEnd); // the address dialog goes with the window
    QCOMPARE(callsAtEnd, (QList<Dispid>{Dispid::StopLink, Dispid::CloseLink}));
    QVERIFY(!f->window->isVisible()); // the unload is not refused
}

void TestMainWindow::closeDuringWaitEndsProgram()
{
    f->window->show();
    f->control->outcomes = {neverEnds()};
    bool clickReturned = false;
    QList<Dispid> callsAtEnd;
    f->window->setEndProgram([&](int status) {
        QVERIFY(!clickReturned);
        f->ends << status;
        callsAtEnd = f->control->callIds();
    });
    f->during(0, [&] { f->window->close(); });
    f->button("cmd_Mg2Read")->click();
    clickReturned = true;
    QCOMPARE(f->ends, QList<int>{0});
    QCOMPARE(callsAtEnd.mid(callsAtEnd.size() - 2), (QList<Dispid>{Dispid::StopLink, Dispid::CloseLink}));
    QCOMPARE(callsAtEnd.first(), Dispid::Version);
    QCOMPARE(callsAtEnd[1], Dispid::SendCommand);
}

QTEST_MAIN(TestMainWindow)
#include "tst_frmmain.moc"
