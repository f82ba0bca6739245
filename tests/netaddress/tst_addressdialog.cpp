#include "AddressDialogLauncher.h"
#include "AddressState.h"
#include "FakeConnectionLabels.h"
#include "IpEntryCheck.h"
#include "ScriptedCardControl.h"
#include "frm_IP.h"

#include <QApplication>
#include <QEventLoop>
#include <QFont>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QColor kRed(255, 0, 0);

QLineEdit *box(QWidget *dialog, int n)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("txt_IP%1").arg(n));
}

QPushButton *setButton(QWidget *dialog)
{
    return dialog->findChild<QPushButton *>(QStringLiteral("cmd_IPSet"));
}

QColor background(QLineEdit *edit)
{
    return edit->palette().color(QPalette::Base);
}

// "N" for a box on the normal background, "R" for a red one, e.g. "RNNN".
QString colours(QWidget *dialog)
{
    const QColor normal = QApplication::palette(box(dialog, 1)).color(QPalette::Base);
    QString text;
    for (int n = 1; n <= 4; ++n) {
        const QColor c = background(box(dialog, n));
        text += c == kRed ? u'R' : c == normal ? u'N' : u'?';
    }
    return text;
}

QStringList boxTexts(QWidget *dialog)
{
    QStringList texts;
    for (int n = 1; n <= 4; ++n)
        texts << box(dialog, n)->text();
    return texts;
}

void fill(QWidget *dialog, const QStringList &texts)
{
    for (int n = 1; n <= 4; ++n)
        box(dialog, n)->setText(texts.at(n - 1));
}

void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int openDialogs()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<frm_IP *>(w) && w->isVisible())
            ++count;
    return count;
}

struct Rig
{
    ScriptedCardControl control;
    FakeConnectionLabels labels;
    AddressState address;
    QStringList messages;
    AddressDialogLauncher launcher{control, address, labels};

    Rig()
    {
        address.resetToDefault();
        launcher.setMessageSink([this](const QString &text) { messages << text; });
    }
    frm_IP *open()
    {
        launcher.showDialog();
        return launcher.dialog();
    }
};

} // namespace

class TestAddressDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void entryCheck_data();
    void entryCheck();
    void packing_data();
    void packing();

    void firstOpening();
    void form_data();
    void form();
    void tabOrder();
    void boxColoursAndSet_data();
    void boxColoursAndSet();
    void typedTextIsChecked();

    void set_data();
    void set();
    void setWritesLabelsBeforeTouchingTheLink();
    void setWhenTheLinkDoesNotOpen_data();
    void setWhenTheLinkDoesNotOpen();
    void closingChangesNothing_data();
    void closingChangesNothing();
    void oneInstance();
    void setAgainWhileConnecting();
    void closedWhileConnecting_data();
    void closedWhileConnecting();
    void closedDialogIsNotReused();
    void launcherTakesTheDialogWithIt();
};

void TestAddressDialog::initTestCase()
{
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

void TestAddressDialog::cleanup()
{
    runDeferredDeletes();
    QCOMPARE(openDialogs(), 0);
}

void TestAddressDialog::entryCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<int>("value"); // the byte Set stores, for texts that pass
    QTest::newRow("255") << "255" << true << 255;
    QTest::newRow("0") << "0" << true << 0;
    QTest::newRow("leading zeros") << "001" << true << 1;
    QTest::newRow("256") << "256" << false << 0;
    QTest::newRow("-1") << "-1" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("1000") << "1000" << false << 0;
    QTest::newRow("four characters though 255") << "0255" << false << 0;
    QTest::newRow("letters read as 0") << "abc" << true << 0;
    QTest::newRow("1.5 rounds up") << "1.5" << true << 2;
    QTest::newRow("2.5 rounds to even") << "2.5" << true << 2;
    QTest::newRow("0.5 rounds to even") << "0.5" << true << 0;
    QTest::newRow("trailing letter") << "12a" << true << 12;
    QTest::newRow("minus zero") << "-0" << true << 0;
    QTest::newRow("blanks skipped") << " 7 " << true << 7;
    QTest::newRow("exponent in range") << "1E2" << true << 100;
    QTest::newRow("exponent out of range") << "3E2" << false << 0;
    QTest::newRow("hex") << "&HF" << true << 15;
    QTest::newRow("sign alone") << "-" << true << 0;
    QTest::newRow("four blanks") << "    " << false << 0;
    QTest::newRow("one character beyond the BMP") << QString::fromUtf8("\xF0\x9F\x98\x80") << true << 0;
    QTest::newRow("digits around a character beyond the BMP") << QString::fromUtf8("1\xF0\x9F\x98\x80" "2") << true
                                                              << 1;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << true << 0;
    QTest::newRow("long text") << QString(100000, u'1') << false << 0;
}

void TestAddressDialog::entryCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, passes);
    QFETCH(int, value);
    QCOMPARE(octetEntryPasses(text), passes);
    if (passes)
        QCOMPARE(int(octetValue(text)), value);
}

void TestAddressDialog::packing_data()
{
    QTest::addColumn<int>("o1");
    QTest::addColumn<int>("o2");
    QTest::addColumn<int>("o3");
    QTest::addColumn<int>("o4");
    QTest::addColumn<qint32>("packed");
    QTest::newRow("192.168.0.0") << 192 << 168 << 0 << 0 << qint32(-1062731776);
    QTest::newRow("192.168.0.10") << 192 << 168 << 0 << 10 << qint32(-1062731766);
    QTest::newRow("192.168.200.1") << 192 << 168 << 200 << 1 << qint32(-1062680575);
    QTest::newRow("10.0.0.1") << 10 << 0 << 0 << 1 << qint32(167772161);
    QTest::newRow("255.255.255.255") << 255 << 255 << 255 << 255 << qint32(-1);
    QTest::newRow("127.255.255.255") << 127 << 255 << 255 << 255 << qint32(2147483647);
    QTest::newRow("128.0.0.0") << 128 << 0 << 0 << 0 << qint32(-2147483647 - 1);
    QTest::newRow("0.0.0.0") << 0 << 0 << 0 << 0 << qint32(0);
    QTest::newRow("127.0.0.1") << 127 << 0 << 0 << 1 << qint32(2130706433);
}

void TestAddressDialog::packing()
{
    QFETCH(int, o1);
    QFETCH(int, o2);
    QFETCH(int, o3);
    QFETCH(int, o4);
    QFETCH(qint32, packed);
    quint8 a = quint8(o1), b = quint8(o2), c = quint8(o3), d = quint8(o4);
    QCOMPARE(PackAddress(a, b, c, d), packed);
    // Read only: the parts are passed by reference but must come back as they went in.
    QCOMPARE(QList<int>({a, b, c, d}), QList<int>({o1, o2, o3, o4}));
}

void TestAddressDialog::firstOpening()
{
    Rig rig;
    frm_IP *dialog = rig.open();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->parentWidget(), nullptr);
    QCOMPARE(boxTexts(dialog), QStringList({"192", "168", "0", "0"}));
    QCOMPARE(colours(dialog), QStringLiteral("NNNN"));
    QVERIFY(setButton(dialog)->isEnabled());
    // Opening touches neither the link nor the labels.
    QVERIFY(rig.control.calls.isEmpty());
    QVERIFY(rig.labels.writes.isEmpty());
}

void TestAddressDialog::form_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("txt_IP1") << "txt_IP1" << QRect(120, 120, 855, 375);
    QTest::newRow("txt_IP2") << "txt_IP2" << QRect(1200, 120, 855, 375);
    QTest::newRow("txt_IP3") << "txt_IP3" << QRect(2280, 120, 855, 375);
    QTest::newRow("txt_IP4") << "txt_IP4" << QRect(3360, 120, 855, 375);
    QTest::newRow("cmd_IPSet") << "cmd_IPSet" << QRect(2280, 600, 1935, 375);
}

void TestAddressDialog::form()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    Rig rig;
    frm_IP *dialog = rig.open();
    const double perTwip = dialog->logicalDpiX() / 1440.0;
    auto px = [perTwip](int t) { return qRound(t * perTwip); };

    QCOMPARE(dialog->windowTitle(), QStringLiteral("IP Address Setting"));
    QCOMPARE(dialog->size(), QSize(px(4320), px(1095)));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

    QWidget *control = dialog->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
    QCOMPARE(control->font().family(), QStringLiteral("Arial"));
    QCOMPARE(control->font().pointSize(), 12);
    QVERIFY(control->font().bold());
    if (name == QLatin1String("cmd_IPSet"))
        QCOMPARE(setButton(dialog)->text(), QStringLiteral("Set"));
}

void TestAddressDialog::tabOrder()
{
    Rig rig;
    frm_IP *dialog = rig.open();
    QStringList order;
    QWidget *w = box(dialog, 1);
    for (int i = 0; i < 5; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w == dialog);
    }
    QCOMPARE(order, QStringList({"txt_IP1", "txt_IP2", "txt_IP3", "txt_IP4", "cmd_IPSet"}));
}

void TestAddressDialog::boxColoursAndSet_data()
{
    QTest::addColumn<QStringList>("edits"); // "n=text", applied in order
    QTest::addColumn<QString>("colours");
    QTest::addColumn<bool>("setEnabled");
    QTest::newRow("one box too large") << QStringList{"3=256"} << "NNRN" << false;
    QTest::newRow("one box emptied") << QStringList{"4="} << "NNNR" << false;
    QTest::newRow("all wrong") << QStringList{"1=-1", "2=1000", "3=", "4=0255"} << "RRRR" << false;
    QTest::newRow("another box typed keeps the first red")
        << QStringList{"1=300", "2=7"} << "RNNN" << false;
    QTest::newRow("mended") << QStringList{"1=300", "2=7", "1=30"} << "NNNN" << true;
    QTest::newRow("mended one of two") << QStringList{"1=300", "4=x123", "1=30"} << "NNNR" << false;
    QTest::newRow("letters pass") << QStringList{"1=abc", "2=12a", "3=1.5"} << "NNNN" << true;
}

void TestAddressDialog::boxColoursAndSet()
{
    QFETCH(QStringList, edits);
    QFETCH(QString, colours);
    QFETCH(bool, setEnabled);
    Rig rig;
    frm_IP *dialog = rig.open();
    for (const QString &edit : edits)
        box(dialog, edit.section('=', 0, 0).toInt())->setText(edit.section('=', 1));
    QCOMPARE(::colours(dialog), colours);
    QCOMPARE(setButton(dialog)->isEnabled(), setEnabled);
    // A disabled Set does nothing when clicked.
    if (!setEnabled) {
        QTest::mouseClick(setButton(dialog), Qt::LeftButton);
        QVERIFY(rig.control.calls.isEmpty());
        QCOMPARE(rig.launcher.dialog(), dialog);
    }
    rig.launcher.closeDialog();
}

void TestAddressDialog::typedTextIsChecked()
{
    Rig rig;
    frm_IP *dialog = rig.open();
    QLineEdit *edit = box(dialog, 2);
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("25"));
    QCOMPARE(colours(dialog), QStringLiteral("NNNN"));
    QTest::keyClicks(edit, QStringLiteral("6"));
    QCOMPARE(colours(dialog), QStringLiteral("NRNN"));
    QVERIFY(!setButton(dialog)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(colours(dialog), QStringLiteral("NNNN"));
    QVERIFY(setButton(dialog)->isEnabled());
    rig.launcher.closeDialog();
}

void TestAddressDialog::set_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("label");
    QTest::addColumn<qint32>("packed");
    QTest::newRow("192.168.0.10") << QStringList{"192", "168", "0", "10"} << "IP Address := 192 . 168 . 0 . 10"
                                  << qint32(-1062731766);
    QTest::newRow("loopback") << QStringList{"127", "0", "0", "1"} << "IP Address := 127 . 0 . 0 . 1"
                              << qint32(2130706433);
    QTest::newRow("values read and rounded") << QStringList{"abc", "1.5", "2.5", "12a"}
                                             << "IP Address := 0 . 2 . 2 . 12" << qint32(0x0002020C);
    QTest::newRow("all ones") << QStringList{"255", "255", "255", "255"} << "IP Address := 255 . 255 . 255 . 255"
                              << qint32(-1);
}

void TestAddressDialog::set()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, label);
    QFETCH(qint32, packed);
    Rig rig;
    rig.labels.setPortText(QStringLiteral("Com2 ,"));
    rig.labels.setBaudText(QStringLiteral("9600bps"));
    rig.labels.writes.clear();
    QPointer<frm_IP> dialog = rig.open();
    fill(dialog, texts);

    QTest::mouseClick(setButton(dialog), Qt::LeftButton);

    QCOMPARE(rig.control.callIds(),
             QList<Dispid>({Dispid::StopLink, Dispid::CloseLink, Dispid::OpenLink, Dispid::StartLink}));
    QCOMPARE(rig.control.callsOf(Dispid::OpenLink).first().args, QVariantList({packed, -1, -1, -1}));
    QCOMPARE(rig.control.callsOf(Dispid::StartLink).first().args, QVariantList{0});
    QCOMPARE(rig.labels.writes, QStringList({"PortNmae=" + label, "Port=", "Baud="}));
    QVERIFY(rig.messages.isEmpty());
    quint8 a = rig.address.IPOctet1, b = rig.address.IPOctet2, c = rig.address.IPOctet3, d = rig.address.IPOctet4;
    QCOMPARE(PackAddress(a, b, c, d), packed);

    // Set unloads the dialog; the next opening shows the address just set.
    QCOMPARE(rig.launcher.dialog(), nullptr);
    runDeferredDeletes();
    QVERIFY(dialog.isNull());
    frm_IP *again = rig.open();
    QCOMPARE(boxTexts(again), label.mid(QStringLiteral("IP Address := ").size()).split(QStringLiteral(" . ")));
    rig.launcher.closeDialog();
}

void TestAddressDialog::setWritesLabelsBeforeTouchingTheLink()
{
    Rig rig;
    qsizetype labelWritesAtStop = -1;
    AddressState atOpen;
    rig.control.beforeCall = [&](Dispid id) {
        if (id == Dispid::StopLink)
            labelWritesAtStop = rig.labels.writes.size();
        if (id == Dispid::OpenLink)
            atOpen = rig.address;
    };
    frm_IP *dialog = rig.open();
    fill(dialog, {"10", "0", "0", "1"});
    QTest::mouseClick(setButton(dialog), Qt::LeftButton);
    QCOMPARE(labelWritesAtStop, 3);
    QCOMPARE(atOpen.dottedText(), QStringLiteral("10.0.0.1"));
}

void TestAddressDialog::setWhenTheLinkDoesNotOpen_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<QString>("message");
    // A control that keeps no reason of its own: the meaning of the number stands in for it.
    QTest::newRow("refused") << QVariant(3)
                             << "Could not connect to 192.168.0.10 port 10001: the connection was refused, the address "
                                "cannot be reached, or the connection dropped at once (OpenLink result 3).";
    QTest::newRow("negative") << QVariant(-1)
                              << "Could not connect to 192.168.0.10 port 10001: unknown OpenLink result (OpenLink result -1).";
    QTest::newRow("fraction converted first")
        << QVariant(4.5) << "Could not connect to 192.168.0.10 port 10001: no connection within 3 seconds (OpenLink result 4).";
}

void TestAddressDialog::setWhenTheLinkDoesNotOpen()
{
    QFETCH(QVariant, result);
    QFETCH(QString, message);
    Rig rig;
    rig.control.openResult = result;
    frm_IP *dialog = rig.open();
    fill(dialog, {"192", "168", "0", "10"});

    QTest::mouseClick(setButton(dialog), Qt::LeftButton);

    QCOMPARE(rig.messages, QStringList({message}));
    QCOMPARE(rig.control.count(Dispid::StartLink), 0);
    // The program and the dialog go on, so the operator can correct the address and try again.
    QCOMPARE(rig.launcher.dialog(), dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(boxTexts(dialog), QStringList({"192", "168", "0", "10"}));
    QCOMPARE(rig.address.dottedText(), QStringLiteral("192.168.0.10"));
    QCOMPARE(rig.labels.portNmae, QStringLiteral("IP Address := 192 . 168 . 0 . 10"));

    rig.control.openResult = 0;
    rig.control.clearCalls();
    box(dialog, 4)->setText(QStringLiteral("11"));
    QTest::mouseClick(setButton(dialog), Qt::LeftButton);
    QCOMPARE(rig.control.callIds(),
             QList<Dispid>({Dispid::StopLink, Dispid::CloseLink, Dispid::OpenLink, Dispid::StartLink}));
    QCOMPARE(rig.launcher.dialog(), nullptr);
}

void TestAddressDialog::closingChangesNothing_data()
{
    QTest::addColumn<bool>("byCloseBox"); // otherwise the main window's shutdown closes it
    QTest::newRow("close box") << true;
    QTest::newRow("window shutdown") << false;
}

void TestAddressDialog::closingChangesNothing()
{
    QFETCH(bool, byCloseBox);
    Rig rig;
    rig.address.IPOctet4 = 20;
    QPointer<frm_IP> dialog = rig.open();
    fill(dialog, {"1", "2", "3", "999"});

    if (byCloseBox)
        QVERIFY(dialog->close());
    else
        rig.launcher.closeDialog();

    QCOMPARE(rig.launcher.dialog(), nullptr);
    runDeferredDeletes();
    QVERIFY(dialog.isNull());
    QVERIFY(rig.control.calls.isEmpty());
    QVERIFY(rig.labels.writes.isEmpty());
    QCOMPARE(rig.address.dottedText(), QStringLiteral("192.168.0.20"));

    frm_IP *again = rig.open();
    QCOMPARE(boxTexts(again), QStringList({"192", "168", "0", "20"}));
    QCOMPARE(colours(again), QStringLiteral("NNNN"));
    QVERIFY(setButton(again)->isEnabled());
    rig.launcher.closeDialog();
}

void TestAddressDialog::closedWhileConnecting_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<bool>("started");
    QTest::newRow("connected") << QVariant(0) << true;
    QTest::newRow("not connected") << QVariant(5) << false;
}

void TestAddressDialog::closedWhileConnecting()
{
    // Connecting over the network takes a while and keeps the window's events going, as the
    // real control does; the operator closes the dialog with its close box meanwhile.
    QFETCH(QVariant, result);
    QFETCH(bool, started);
    Rig rig;
    rig.control.openResult = result;
    QPointer<frm_IP> dialog = rig.open();
    fill(dialog, {"127", "0", "0", "1"});
    rig.control.beforeCall = [&](Dispid id) {
        if (id != Dispid::OpenLink)
            return;
        QEventLoop connecting;
        QTimer::singleShot(0, dialog, [&] { QVERIFY(dialog->close()); });
        QTimer::singleShot(50, &connecting, &QEventLoop::quit);
        connecting.exec();
    };

    QTest::mouseClick(setButton(dialog), Qt::LeftButton);
    runDeferredDeletes();

    QVERIFY(dialog.isNull());
    // A link that opened is started, not left half set up behind the labels that name it; a
    // dialog the operator closed gets no message.
    QCOMPARE(rig.control.count(Dispid::StartLink), started ? 1 : 0);
    QVERIFY(rig.messages.isEmpty());
    QCOMPARE(rig.labels.portNmae, QStringLiteral("IP Address := 127 . 0 . 0 . 1"));
    QCOMPARE(rig.launcher.dialog(), nullptr);
}

void TestAddressDialog::setAgainWhileConnecting()
{
    // A second Set while the first one connects abandons the first attempt, connects to the
    // corrected address and closes the dialog; the first Set must not then report its own
    // abandoned attempt as a failure, nor start the link a second time.
    Rig rig;
    QPointer<frm_IP> dialog = rig.open();
    fill(dialog, {"127", "0", "0", "1"});
    int opens = 0;
    rig.control.beforeCall = [&](Dispid id) {
        if (id != Dispid::OpenLink || ++opens > 1)
            return;
        QEventLoop connecting;
        QTimer::singleShot(0, dialog, [&] {
            box(dialog, 4)->setText(QStringLiteral("2"));
            QTest::mouseClick(setButton(dialog), Qt::LeftButton);
            rig.control.openResult = 9; // what the abandoned first attempt answers
            connecting.quit();
        });
        connecting.exec();
    };

    QTest::mouseClick(setButton(dialog), Qt::LeftButton);

    QVERIFY(rig.messages.isEmpty());
    QCOMPARE(rig.control.callIds(),
             QList<Dispid>({Dispid::StopLink, Dispid::CloseLink, Dispid::OpenLink, Dispid::StopLink,
                            Dispid::CloseLink, Dispid::OpenLink, Dispid::StartLink}));
    QCOMPARE(rig.control.callsOf(Dispid::OpenLink).last().args, QVariantList({qint32(0x7F000002), -1, -1, -1}));
    QCOMPARE(rig.labels.portNmae, QStringLiteral("IP Address := 127 . 0 . 0 . 2"));
    QCOMPARE(rig.launcher.dialog(), nullptr);
}

void TestAddressDialog::oneInstance()
{
    Rig rig;
    frm_IP *first = rig.open();
    box(first, 3)->setText(QStringLiteral("77"));
    frm_IP *second = rig.open();
    QCOMPARE(second, first);
    QCOMPARE(openDialogs(), 1);
    QCOMPARE(box(second, 3)->text(), QStringLiteral("77"));
    rig.launcher.closeDialog();
}

void TestAddressDialog::closedDialogIsNotReused()
{
    // Closed from inside a wait, the dialog's deletion waits for the outer event loop; opening
    // it meanwhile must still load a fresh one, not show the closed one with its old texts.
    Rig rig;
    QPointer<frm_IP> first = rig.open();
    box(first, 1)->setText(QStringLiteral("55"));
    first->close();
    QVERIFY(!first.isNull());

    frm_IP *second = rig.open();
    QVERIFY(second != first.data());
    QCOMPARE(boxTexts(second), QStringList({"192", "168", "0", "0"}));
    QCOMPARE(openDialogs(), 1);
    rig.launcher.closeDialog();
}

void TestAddressDialog::launcherTakesTheDialogWithIt()
{
    QPointer<frm_IP> dialog;
    {
        Rig rig;
        dialog = rig.open();
        QVERIFY(dialog);
    }
    QVERIFY(dialog.isNull());
}

QTEST_MAIN(TestAddressDialog)
#include "tst_addressdialog.moc"
