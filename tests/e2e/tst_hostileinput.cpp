// Whatever the operator types into any text box of the two windows, idle or while a command
// runs: the program keeps running, a refusal comes with a message that names the box, nothing
// goes to the device that the operator did not ask for, what was typed stays in its box, and
// the command buttons come back.
#include "BinConvert.h"
#include "ConsoleFixture.h"
#include "protocol/DeviceText.h"
#include "window/NumberReading.h"
#include "frm_IP.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QTest>

namespace {

// A box's text in the forms that break naive code.
struct Hostile
{
    const char *name;
    QString text;
};

QString repeated(const QString &unit, int times)
{
    QString text;
    text.reserve(unit.size() * times);
    for (int i = 0; i < times; ++i)
        text += unit;
    return text;
}

const QString kLoneHigh = QString(QChar(0xD800));
const QString kLoneLow = QString(QChar(0xDC00));
const QString kEmoji = QStringLiteral("\U0001F600"); // no place in CP932
const QString kHangul = QStringLiteral("\uD55C");    // no place in CP932
const QString kControls = QStringLiteral("\x01\x1b[2J\x7f\t\r\n\x08");
const QString kNul = QString::fromUtf16(u"4\0" "1", 3);

class Labels : public ConnectionLabels
{
public:
    void setPortNmaeText(const QString &) override {}
    void setPortText(const QString &) override {}
    void setBaudText(const QString &) override {}
};

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void freeCommandBoxes_data();
    void freeCommandBoxes();
    void magwriteTimeoutChangedWhileRunning_data();
    void magwriteTimeoutChangedWhileRunning();
    void addressBoxes_data();
    void addressBoxes();
    void deviceTextShownAsPlainText_data();
    void deviceTextShownAsPlainText();
    void refusalMessageQuotesTextLiterally();

private:
    std::unique_ptr<ConsoleFixture> f;
};

void TestHostileInput::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->window->show();
}

void TestHostileInput::cleanup()
{
    f.reset();
}

// One box of the free command at a time holds the hostile text; the others hold ordinary
// values. "refused" says whether the click must stop with a message.
void TestHostileInput::freeCommandBoxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bin");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("whileBusy");

    const QList<Hostile> command{
        {"empty", ""},
        {"100,000 digits", repeated("7", 100000)},
        {"100,000 characters, leading zeros", repeated("0", 99998) + "ff"},
        {"control characters", kControls},
        {"NUL", kNul},
        {"lone surrogate", kLoneHigh},
        {"outside CP932", kEmoji + kHangul},
        {"largest", "7FFFFFFF"},
        {"smallest", "80000000"},
        {"all ones", "FFFFFFFF"},
        {"nine digits", "100000000"},
    };
    const QList<Hostile> timeout{
        {"empty", ""},
        {"100,000 digits", repeated("9", 100000)},
        {"control characters", kControls},
        {"NUL", QString::fromUtf16(u"1\0" "5", 3)},
        {"lone surrogate", kLoneLow},
        {"outside CP932", kEmoji},
        {"largest", "2147483647"},
        {"one beyond", "2147483648"},
        {"smallest", "-2147483648"},
        {"one below", "-2147483649"},
        {"half beyond, rounds up", "2147483647.5"},
        {"hex all ones", "&HFFFFFFFF"},
        {"hex nine digits", "&H100000000"},
        {"exponent", "1E10"},
        {"exponent overflow", "1e309"},
        {"long mantissa, negative exponent", "1" + repeated("0", 400) + "E-1"},
    };
    const QList<Hostile> parameter{
        {"empty", ""},
        {"100,000 characters", repeated("x", 100000)},
        {"100,000 Japanese characters", repeated(QStringLiteral("\u3042"), 100000)},
        {"control characters", kControls},
        {"NUL", kNul},
        {"lone high surrogate", "a" + kLoneHigh + "b"},
        {"lone low surrogate", kLoneLow},
        {"outside CP932", kEmoji},
        {"Hangul", kHangul},
        {"markup", "<b>x</b>"},
    };
    const QList<Hostile> binParameter{
        {"escapes at the limits", "$FF$00$ff$"},
        {"100,000 escapes", repeated("$41", 100000)},
        {"lone surrogate between escapes", "$41" + kLoneHigh + "$42"},
        {"outside CP932 between escapes", "$41" + kEmoji},
        {"typed and escaped CR", "\r$0D\r"},
    };
    const auto refusedTimeout = [](const QString &t) { return !readInt32(t).has_value(); };
    const auto refusedCommand = [](const QString &t) {
        const std::optional<qint32> code = readInt32(QString("&H" + t));
        return !code || *code < 0 || *code > 0xFF; // the console takes only what the control does
    };
    const auto refusedParameter = [](const QString &t, bool bin) {
        return (bin ? BinConvertToDeviceBytes(t) : encodeDeviceText(t)).unencodable.has_value();
    };
    for (bool busy : {false, true}) {
        const char *when = busy ? "typed while busy" : "idle";
        for (const Hostile &h : command)
            QTest::addRow("command, %s, %s", h.name, when) << "txt_UserCommand" << h.text << false
                                                          << refusedCommand(h.text) << busy;
        for (const Hostile &h : timeout)
            QTest::addRow("time-out, %s, %s", h.name, when) << "txt_UserTimeout" << h.text << false
                                                           << refusedTimeout(h.text) << busy;
        for (const Hostile &h : parameter)
            QTest::addRow("parameter, %s, %s", h.name, when) << "txt_UserParameter" << h.text << false
                                                            << refusedParameter(h.text, false) << busy;
        for (const Hostile &h : binParameter)
            QTest::addRow("BIN parameter, %s, %s", h.name, when) << "txt_UserParameter" << h.text << true
                                                                << refusedParameter(h.text, true) << busy;
    }
}

void TestHostileInput::freeCommandBoxes()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(bool, bin);
    QFETCH(bool, refused);
    QFETCH(bool, whileBusy);

    QHash<QString, QString> typed{{"txt_UserCommand", "41"}, {"txt_UserParameter", "ABC"},
                                  {"txt_UserTimeout", "1000"}};
    typed[box] = text;
    f->find<QCheckBox>("opt_Bin")->setChecked(bin);
    f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
    f->control->defaultOutcome = runsFor(10);

    if (whileBusy) {
        // The boxes are live while a command runs; typing there sends nothing by itself.
        f->control->outcomes = {runsFor(300)};
        f->during(50, [&] {
            for (auto it = typed.cbegin(); it != typed.cend(); ++it)
                f->edit(it.key())->setText(it.value());
        });
        f->button("cmd_Clear")->click();
        QCOMPARE(f->sentCodes(), QList<int>{73});
        QVERIFY(f->messages.isEmpty());
        QVERIFY(f->allGated(true));
        f->control->clearCalls();
    } else {
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            f->edit(it.key())->setText(it.value());
    }

    f->button("cmd_Send")->click();

    QVERIFY(f->ends.isEmpty()); // the program keeps running
    QVERIFY(f->allGated(true));
    // Nothing the operator typed is lost, however long or odd.
    for (auto it = typed.cbegin(); it != typed.cend(); ++it)
        QVERIFY2(f->edit(it.key())->text() == it.value(), qPrintable(it.key()));

    if (refused) {
        QCOMPARE(f->sentCommands().size(), 0);
        QCOMPARE(f->messages.size(), 1);
        const QString caption = box == "txt_UserCommand" ? "Command"
                                : box == "txt_UserTimeout" ? "Time Out" : "Parameter";
        QVERIFY2(f->messages[0].startsWith(caption), qPrintable(f->messages[0]));
        QVERIFY2(f->messages[0].size() < 400, "a message short enough to read");
        return;
    }
    QVERIFY2(f->messages.isEmpty(), qPrintable(f->messages.value(0)));
    // Exactly the one command asked for, with exactly what the boxes say.
    const QString parameterText = typed["txt_UserParameter"];
    const QByteArray bytes = bin ? BinConvertToDeviceBytes(parameterText).bytes
                                 : encodeDeviceText(parameterText).bytes;
    const QVariantList expected{*readInt32(QString("&H" + typed["txt_UserCommand"])), bytes,
                                *readInt32(typed["txt_UserTimeout"]), false};
    QCOMPARE(f->sentCommands(), QList<QVariantList>{expected});
}

// cmdMagwrite reads the time-out box again before its second command: what the operator types
// there while the first one runs decides whether the click goes on.
void TestHostileInput::magwriteTimeoutChangedWhileRunning_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("usable") << "2500" << QList<int>{57, 49, 80};
    QTest::newRow("empty") << "" << QList<int>{57, 49, 80};
    QTest::newRow("one beyond the limit") << "2147483648" << QList<int>{57, 80};
    QTest::newRow("100,000 digits") << repeated("9", 100000) << QList<int>{57, 80};
    QTest::newRow("lone surrogate") << kLoneHigh << QList<int>{57, 49, 80};
}

void TestHostileInput::magwriteTimeoutChangedWhileRunning()
{
    QFETCH(QString, typed);
    QFETCH(QList<int>, codes);
    f->edit("txt_UserParameter")->setText("DATA");
    f->edit("txt_UserTimeout")->setText("1000");
    f->control->outcomes = {runsFor(200)};
    f->control->defaultOutcome = runsFor(10);
    f->during(50, [&] { f->edit("txt_UserTimeout")->setText(typed); });
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCodes(), codes);
    QCOMPARE(f->messages.size(), codes.size() == 2 ? 1 : 0);
    if (!f->messages.isEmpty())
        QVERIFY(f->messages[0].startsWith("Time Out"));
    QVERIFY(f->allGated(true));
    QVERIFY(f->ends.isEmpty());
    QCOMPARE(f->edit("txt_UserTimeout")->text(), typed);
}

// The four address boxes: the entry check decides whether Set can be pressed; when it can, the
// address handed to the control is the boxes' reading and nothing else. Idle and in the middle
// of a running command (the dialog stays usable then, and Set stops the command).
void TestHostileInput::addressBoxes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<int>("octet");
    QTest::addColumn<bool>("whileBusy");
    const QList<std::tuple<const char *, QString, bool, int>> rows{
        {"empty", "", false, 0},
        {"100,000 digits", repeated("1", 100000), false, 0},
        {"control character", "\x01", true, 0},
        {"NUL", QString(QChar(0)), true, 0},
        {"lone surrogate", kLoneHigh, true, 0},
        {"outside CP932", kEmoji, true, 0},
        {"largest", "255", true, 255},
        {"one beyond", "256", false, 0},
        {"negative", "-1", false, 0},
        {"negative zero", "-0", true, 0},
        {"exponent", "2e2", true, 200},
        {"exponent beyond", "9e9", false, 0},
        {"half to even", "2.5", true, 2},
        {"four characters", "0255", false, 0},
    };
    for (bool busy : {false, true}) {
        for (const auto &[name, text, passes, octet] : rows)
            QTest::addRow("%s, %s", name, busy ? "during a command" : "idle") << text << passes << octet << busy;
    }
}

void TestHostileInput::addressBoxes()
{
    QFETCH(QString, text);
    QFETCH(bool, passes);
    QFETCH(int, octet);
    QFETCH(bool, whileBusy);

    AddressState address;
    Labels labels;
    QStringList dialogMessages;
    auto *dialog = new frm_IP(*f->control, address, labels,
                              [&](const QString &t) { dialogMessages << t; });
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    std::unique_ptr<frm_IP> owner(dialog);
    dialog->show();

    bool setEnabled = false;
    const auto typeAndSet = [&] {
        const QStringList parts{"127", "0", "0", text};
        for (int i = 0; i < 4; ++i)
            dialog->findChild<QLineEdit *>(QStringLiteral("txt_IP%1").arg(i + 1))->setText(parts[i]);
        QPushButton *set = dialog->findChild<QPushButton *>("cmd_IPSet");
        setEnabled = set->isEnabled();
        set->click(); // does nothing while disabled
    };
    if (whileBusy) {
        f->control->outcomes = {neverEnds()};
        f->during(50, [&] {
            typeAndSet();
            if (!setEnabled) // the command still runs; the operator ends it
                f->button("cmd_Cancel")->click();
        });
        f->button("cmd_Clear")->click(); // returns once Set or Cancel has ended the command
        QVERIFY(f->allGated(true));
    } else {
        typeAndSet();
    }

    QCOMPARE(setEnabled, passes);
    QVERIFY(f->ends.isEmpty());
    QVERIFY(dialogMessages.isEmpty());
    const QList<ScriptedCardControl::Call> opens = f->control->callsOf(Dispid::OpenLink);
    if (!passes) {
        QVERIFY(opens.isEmpty());
        return;
    }
    QCOMPARE(opens.size(), 1);
    QCOMPARE(opens[0].args.value(0).toInt(), qint32(0x7F000000u | quint32(octet)));
    QCOMPARE(opens[0].args.value(1).toInt(), -1);
}

// Text from the device is never taken for markup: the data box is a plain line edit and shows
// the bytes' characters as they are.
void TestHostileInput::deviceTextShownAsPlainText_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("shown");
    QTest::newRow("bold") << QByteArray("<b>x</b>") << "<b>x</b>";
    QTest::newRow("image") << QByteArray("<img src=\"/etc/passwd\">") << "<img src=\"/etc/passwd\">";
    QTest::newRow("entity") << QByteArray("&lt;&amp;") << "&lt;&amp;";
    QTest::newRow("rich text marker") << QByteArray("<qt>x<br>y</qt>") << "<qt>x<br>y</qt>";
}

void TestHostileInput::deviceTextShownAsPlainText()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, shown);
    f->control->outcomes = {runsFor(10, 0, 0x20, data)};
    f->button("cmd_Mg2Read")->click();
    QLineEdit *box = f->window->findChild<QLineEdit *>("dis_KestraData");
    QVERIFY(box); // a QLineEdit has no rich-text mode
    QCOMPARE(box->text(), shown);
    QCOMPARE(box->displayText(), shown);
}

// The window's own message box (no test sink): the refusal quotes what was typed, and typed
// markup must show as typed.
void TestHostileInput::refusalMessageQuotesTextLiterally()
{
    frmMain window(std::make_unique<ScriptedCardControl>());
    window.setEndProgram([](int) {});
    window.setBeep([] {});
    window.show();
    const QString typed = QStringLiteral("99999999999<b>x</b>");
    window.findChild<QLineEdit *>("txt_UserTimeout")->setText(typed);
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    QTimer::singleShot(0, &window, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            text = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    window.findChild<QPushButton *>("cmd_Send")->click();
    QVERIFY2(text.contains(typed), qPrintable(text));
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
