#include "ConsoleFixture.h"
#include "control/LinkJournal.h"
#include "protocol/OperationSteps.h"
#include "SamplePrint.h"
#include "TestHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ScriptedCardControl::Outcome)

namespace {

QVariantList command(int code, const QByteArray &parameter, int timeout, bool dsr)
{
    return {code, parameter, timeout, dsr};
}

} // namespace

class TestCardOperations : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void singleCommandButtons_data();
    void singleCommandButtons();
    void buttonsGatedWhateverTheResult_data();
    void buttonsGatedWhateverTheResult();
    void responseDataShownDecoded();
    void operationSteps_data();
    void operationSteps();

    void magwriteSequence_data();
    void magwriteSequence();
    void magwriteRereadsDuringFirstCommand();
    void magwriteRereadsBeforeEachCommand_data();
    void magwriteRereadsBeforeEachCommand();
    void magwriteParameterReadOnceAndNeverConverted();
    void magwriteSkipsWriteWhenDataFails_data();
    void magwriteSkipsWriteWhenDataFails();
    void magwriteRefusesUnusableInput_data();
    void magwriteRefusesUnusableInput();
    void magwriteStillEjectsWhenTimeoutBecomesUnusable();

    void rewriteSendsSamplePrint_data();
    void rewriteSendsSamplePrint();
    void rewriteReadsDsrAfterData_data();
    void rewriteReadsDsrAfterData();
    void rewriteSkippedWhenDataFails();

    void freeCommand_data();
    void freeCommand();
    void freeCommandRefusesUnusableInput_data();
    void freeCommandRefusesUnusableInput();
    void freeCommandReadsBoxesAtClick();

private:
    std::unique_ptr<ConsoleFixture> f;
};

void TestCardOperations::init()
{
    f = std::make_unique<ConsoleFixture>();
}

void TestCardOperations::cleanup()
{
    f.reset();
}

void TestCardOperations::singleCommandButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("check");
    QTest::addColumn<QVariantList>("sent");
    for (bool check : {true, false}) {
        const char *suffix = check ? " Check" : " No Check";
        QTest::newRow(QByteArray("magnetic read") + suffix) << "cmd_Mg2Read" << check << command(34, "", 30000, check);
        QTest::newRow(QByteArray("buffer clear") + suffix) << "cmd_Clear" << check << command(73, "", 5000, check);
        QTest::newRow(QByteArray("reset") + suffix) << "cmd_Reset" << check << command(95, "", 30000, check);
        QTest::newRow(QByteArray("erase") + suffix) << "cmd_Erase" << check << command(72, "1", 30000, check);
        QTest::newRow(QByteArray("eject") + suffix) << "cmd_Exit" << check << command(80, "1", 10000, check);
    }
}

void TestCardOperations::singleCommandButtons()
{
    QFETCH(QString, button);
    QFETCH(bool, check);
    QFETCH(QVariantList, sent);
    f->find<QRadioButton>(check ? "opt_DSR" : "opt_NoDSR")->setChecked(true);
    f->edit("txt_UserParameter")->setText("ignored");
    f->edit("txt_UserTimeout")->setText("1");
    f->button(button)->click();
    QCOMPARE(f->sentCommands(), QList<QVariantList>{sent});
    QCOMPARE(f->edit("dis_Ocx")->text(), QStringLiteral("0"));
}

void TestCardOperations::buttonsGatedWhateverTheResult_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<ScriptedCardControl::Outcome>("outcome");
    QTest::addColumn<QString>("result");
    for (const char *button : {"cmd_Mg2Read", "cmd_Clear", "cmd_Reset", "cmd_Erase", "cmd_Exit", "cmd_Send"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 completed").arg(button))) << button << runsFor(20) << "0";
        QTest::newRow(qPrintable(QStringLiteral("%1 time-out").arg(button))) << button << runsFor(20, 107) << "1";
        QTest::newRow(qPrintable(QStringLiteral("%1 refused").arg(button))) << button << refused() << "-1";
    }
}

void TestCardOperations::buttonsGatedWhateverTheResult()
{
    QFETCH(QString, button);
    QFETCH(ScriptedCardControl::Outcome, outcome);
    QFETCH(QString, result);
    f->control->outcomes = {outcome};
    bool disabledDuring = true;
    f->during(0, [&] { disabledDuring = f->allGated(false); });
    f->button(button)->click();
    if (!outcome.sendResult.toInt()) // a refused command has no wait in which to look
        QVERIFY(disabledDuring);
    QVERIFY(f->allGated(true));
    QCOMPARE(f->edit("dis_Ocx")->text(), result);
}

void TestCardOperations::responseDataShownDecoded()
{
    f->control->outcomes = {runsFor(5, 0, 0x20, QByteArray::fromHex("834a815b836820b6b0c4de20ff"))};
    f->button("cmd_Mg2Read")->click();
    QCOMPARE(f->edit("dis_KestraData")->text(), QStringLiteral("カード ｶｰﾄﾞ \uFFFD"));
    QCOMPARE(f->edit("dis_Code")->text(), QStringLiteral("&H 20"));
    QCOMPARE(f->beeps, 1);
}

// kestra-send runs the same rows (tests/send/tst_sendscript.cpp, operationSteps): the commands
// that reach the control and the journal's skipped line are the same in both. What the window
// sends for each step is what the table gives that step.
void TestCardOperations::operationSteps_data()
{
    using Outcomes = QList<ScriptedCardControl::Outcome>;
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Outcomes>("outcomes");
    QTest::addColumn<QList<int>>("sent");
    QTest::addColumn<QString>("skipped"); // the journal's skipped text; empty: nothing skipped
    const QString stale = QStringLiteral(", so the device may still hold an earlier card's data");
    QTest::newRow("write, all complete") << "write" << Outcomes{} << QList<int>{0x39, 0x31, 0x50} << "";
    QTest::newRow("write, data refused") << "write" << Outcomes{refused()} << QList<int>{0x39, 0x50}
                                         << "code 31 (write 2/3): write 1/3 ended with result -1" + stale;
    QTest::newRow("write, data timed out") << "write" << Outcomes{runsFor(2, LinkError::TimedOut)} << QList<int>{0x39, 0x50}
                                           << "code 31 (write 2/3): write 1/3 ended with result 1" + stale;
    QTest::newRow("write, the write fails") << "write" << Outcomes{runsFor(2), runsFor(2, 0, 0x34)}
                                            << QList<int>{0x39, 0x31, 0x50} << "";
    QTest::newRow("sample, all complete") << "sample" << Outcomes{} << QList<int>{0x41, 0x46} << "";
    QTest::newRow("sample, print data status 34") << "sample" << Outcomes{runsFor(2, 0, 0x34)} << QList<int>{0x41}
                                                  << "code 46 (sample 2/2): sample 1/2 ended with result -1" + stale;
    QTest::newRow("read refused") << "read" << Outcomes{refused()} << QList<int>{0x22} << "";
}

void TestCardOperations::operationSteps()
{
    QFETCH(QString, operation);
    QFETCH(QList<ScriptedCardControl::Outcome>, outcomes);
    QFETCH(QList<int>, sent);
    QFETCH(QString, skipped);
    const QHash<QString, QString> buttons{{"read", "cmd_Mg2Read"}, {"write", "cmdMagwrite"}, {"sample", "cmdRewrite"}};

    QTemporaryDir dir;
    LinkJournal journal;
    QVERIFY(journal.open(dir.filePath(QStringLiteral("journal.log")), nullptr));
    f->window->setJournal(&journal);
    f->control->outcomes = outcomes;
    f->edit("txt_UserParameter")->setText(QStringLiteral("%NEW?"));
    f->edit("txt_UserTimeout")->setText(QStringLiteral("1500"));
    f->button(buttons.value(operation))->click();
    f->window->setJournal(nullptr);
    journal.flush();

    QCOMPARE(f->sentCodes(), sent);
    CardOperations::StepInputs inputs{"%NEW?", SamplePrintData(), 1500, true};
    for (const QVariantList &args : f->sentCommands()) {
        for (const CardOperations::Step &step : CardOperations::findOperation(operation)->steps) {
            const CardOperations::StepCommand planned = CardOperations::commandFor(step, inputs);
            if (planned.code == args[0].toInt())
                QCOMPARE(args, command(planned.code, planned.parameter, planned.timeoutMs, planned.dsr));
        }
    }
    QFile file(journal.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> skippedLines;
    for (const QByteArray &line : withoutSessions(file.readAll()).split('\n'))
        if (line.contains("-- skipped "))
            skippedLines << line;
    QCOMPARE(skippedLines.size(), skipped.isEmpty() ? 0 : 1);
    if (!skipped.isEmpty())
        QVERIFY2(skippedLines[0].endsWith("-- skipped " + skipped.toUtf8()), skippedLines[0]);
    QCOMPARE(f->messages.size(), skipped.isEmpty() ? 0 : 1);
    QVERIFY(f->allGated(true));
}

void TestCardOperations::magwriteSequence_data()
{
    QTest::addColumn<QString>("timeoutText");
    QTest::addColumn<int>("timeout");
    QTest::newRow("1500ms") << "1500ms" << 1500;
    QTest::newRow("2500.5") << "2500.5" << 2500;
    QTest::newRow("2501.5") << "2501.5" << 2502;
    QTest::newRow("-20") << "-20" << -20;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("abc") << "abc" << 0;
}

void TestCardOperations::magwriteSequence()
{
    QFETCH(QString, timeoutText);
    QFETCH(int, timeout);
    f->edit("txt_UserTimeout")->setText(timeoutText);
    f->edit("txt_UserParameter")->setText(QStringLiteral("ABC;123?"));
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCommands(), (QList<QVariantList>{command(57, "ABC;123?", timeout, true),
                                                     command(49, "2", timeout, true),
                                                     command(80, "1", 10000, true)}));
    QVERIFY(f->allGated(true));
    QVERIFY(f->messages.isEmpty());
}

void TestCardOperations::magwriteRereadsDuringFirstCommand()
{
    f->edit("txt_UserTimeout")->setText("1000");
    f->edit("txt_UserParameter")->setText("first");
    f->control->outcomes = {runsFor(50), runsFor(5), runsFor(5)};
    f->during(0, [&] {
        f->edit("txt_UserTimeout")->setText("2000");
        f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
        f->edit("txt_UserParameter")->setText("second");
    });
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCommands(), (QList<QVariantList>{command(57, "first", 1000, true),
                                                     command(49, "2", 2000, false),
                                                     command(80, "1", 10000, false)}));
}

void TestCardOperations::magwriteRereadsBeforeEachCommand_data()
{
    // The operator switches to "No Check" and types 2000 as the k-th command goes out, that is
    // after the click has read the boxes for it: only the commands after it see the change.
    QTest::addColumn<int>("changedAtSend");
    QTest::addColumn<QList<QVariantList>>("sent");
    QTest::newRow("while command 1 runs")
        << 1 << QList<QVariantList>{command(57, "data", 1000, true), command(49, "2", 2000, false),
                                    command(80, "1", 10000, false)};
    QTest::newRow("while command 2 runs")
        << 2 << QList<QVariantList>{command(57, "data", 1000, true), command(49, "2", 1000, true),
                                    command(80, "1", 10000, false)};
    QTest::newRow("while command 3 runs")
        << 3 << QList<QVariantList>{command(57, "data", 1000, true), command(49, "2", 1000, true),
                                    command(80, "1", 10000, true)};
}

void TestCardOperations::magwriteRereadsBeforeEachCommand()
{
    QFETCH(int, changedAtSend);
    QFETCH(QList<QVariantList>, sent);
    f->edit("txt_UserParameter")->setText("data");
    f->edit("txt_UserTimeout")->setText("1000");
    int sends = 0;
    f->control->beforeCall = [&](Dispid id) {
        if (id == Dispid::SendCommand && ++sends == changedAtSend) {
            f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
            f->edit("txt_UserTimeout")->setText("2000");
            f->edit("txt_UserParameter")->setText("changed");
        }
    };
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCommands(), sent);
}

void TestCardOperations::magwriteParameterReadOnceAndNeverConverted()
{
    f->find<QCheckBox>("opt_Bin")->setChecked(true);
    f->edit("txt_UserParameter")->setText(QStringLiteral("$41\r磁気"));
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCommands().value(0).value(1).toByteArray(), QByteArray("$41\r\x8e\xa5\x8b\x43"));
}

void TestCardOperations::magwriteSkipsWriteWhenDataFails_data()
{
    QTest::addColumn<ScriptedCardControl::Outcome>("data");
    QTest::addColumn<QString>("result");
    QTest::newRow("refused") << refused() << "-1";
    QTest::newRow("timed out") << runsFor(5, 107) << "1";
    QTest::newRow("status other than 20") << runsFor(5, 0, 0x34) << "-1";
    QTest::newRow("cancelled") << neverEnds() << "-1";
}

// The device's buffer may still hold an earlier card's data: the write would put it on this card.
// The card is still ejected, and the operator told afterwards.
void TestCardOperations::magwriteSkipsWriteWhenDataFails()
{
    QFETCH(ScriptedCardControl::Outcome, data);
    QFETCH(QString, result);
    f->control->outcomes = {data, runsFor(5, 0, 0x20, "ejected")};
    if (data.neverEnds)
        f->during(0, [&] { f->button("cmd_Cancel")->click(); });
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCodes(), (QList<int>{57, 80}));
    QCOMPARE(f->edit("dis_KestraData")->text(), QStringLiteral("ejected"));
    QCOMPARE(f->messages.size(), 1);
    for (const QString &mention : {QStringLiteral("(&h39) ended with result %1").arg(result),
                                   QStringLiteral("write was skipped; the eject was still sent")})
        QVERIFY2(f->messages[0].contains(mention), qPrintable(f->messages[0]));
    QVERIFY(f->allGated(true));
}

void TestCardOperations::magwriteRefusesUnusableInput_data()
{
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("time-out too large") << "data" << "99999999999" << "Time Out";
    QTest::newRow("time-out exponent overflow") << "data" << "1E999" << "Time Out";
    QTest::newRow("character outside CP932") << QStringLiteral("a\u00E9") << "1000" << "U+00E9";
}

void TestCardOperations::magwriteRefusesUnusableInput()
{
    QFETCH(QString, parameter);
    QFETCH(QString, timeout);
    QFETCH(QString, mentions);
    f->edit("txt_UserParameter")->setText(parameter);
    f->edit("txt_UserTimeout")->setText(timeout);
    f->button("cmdMagwrite")->click();
    QVERIFY(f->sentCommands().isEmpty());
    QCOMPARE(f->messages.size(), 1);
    QVERIFY2(f->messages[0].contains(mentions), qPrintable(f->messages[0]));
    QVERIFY(f->allGated(true));
}

void TestCardOperations::magwriteStillEjectsWhenTimeoutBecomesUnusable()
{
    QTemporaryDir dir;
    LinkJournal journal;
    QVERIFY(journal.open(dir.filePath(QStringLiteral("journal.log")), nullptr));
    f->window->setJournal(&journal);
    f->edit("txt_UserParameter")->setText("data");
    f->edit("txt_UserTimeout")->setText("1000");
    f->control->outcomes = {runsFor(30), runsFor(5, 0, 0x20, "ejected")};
    bool messageAfterEject = false;
    bool gatedAtMessage = false;
    f->window->setMessageSink([&](const QString &text) {
        f->messages << text;
        messageAfterEject = f->sentCodes().size() == 2 && f->edit("dis_KestraData")->text() == "ejected";
        gatedAtMessage = f->allGated(false);
    });
    f->during(0, [&] {
        f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
        f->edit("txt_UserTimeout")->setText("99999999999");
    });
    f->button("cmdMagwrite")->click();
    QCOMPARE(f->sentCommands(),
             (QList<QVariantList>{command(57, "data", 1000, true), command(80, "1", 10000, false)}));
    QCOMPARE(f->messages.size(), 1);
    for (const char *mention : {"Time Out", "\"99999999999\"", "write was skipped", "eject"})
        QVERIFY2(f->messages[0].contains(mention), qPrintable(f->messages[0]));
    QVERIFY(!f->messages[0].contains("Nothing was sent"));
    QVERIFY(messageAfterEject);
    QVERIFY(gatedAtMessage);
    QVERIFY(f->allGated(true));
    // The journal names the step as kestra-send does, with the box's reason.
    f->window->setJournal(nullptr);
    journal.flush();
    QFile file(journal.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY2(written.contains(" -- skipped code 31 (write 2/3): Time Out: \"99999999999\" does not fit a 32-bit integer "
                              "(-2147483648 to 2147483647 ms).\n"), written);
}

void TestCardOperations::rewriteSendsSamplePrint_data()
{
    QTest::addColumn<bool>("check");
    QTest::newRow("Check") << true;
    QTest::newRow("No Check") << false;
}

void TestCardOperations::rewriteSendsSamplePrint()
{
    QFETCH(bool, check);
    f->find<QRadioButton>(check ? "opt_DSR" : "opt_NoDSR")->setChecked(true);
    f->button("cmdRewrite")->click();
    f->button("cmdRewrite")->click();
    const QByteArray print = "2, 0, 23,Hello, World!\n \nThis is Kestra.\n Rewritable Card R/W\n"
                             "  From Orvell, Velden.\n \n/www.example.com/\n \nYou can use Kestra for...\n"
                             "* Point card\n* Pre-Paid card\n* Member's card\n* Library ID Card\n"
                             "* Medical ID card\n\n......And more!!";
    const QList<QVariantList> once = {command(65, print, 5000, true), command(70, "1", 60000, check)};
    QCOMPARE(f->sentCommands(), once + once); // no eject; two clicks send the same
    QVERIFY(f->allGated(true));
}

void TestCardOperations::rewriteReadsDsrAfterData_data()
{
    QTest::addColumn<int>("changedAtSend");
    QTest::addColumn<bool>("rewriteCheck");
    QTest::newRow("switched while the data command runs") << 1 << false;
    QTest::newRow("switched while the rewrite runs") << 2 << true;
}

void TestCardOperations::rewriteReadsDsrAfterData()
{
    // The rewrite takes the option as it stands once the data command is over.
    QFETCH(int, changedAtSend);
    QFETCH(bool, rewriteCheck);
    int sends = 0;
    f->control->beforeCall = [&](Dispid id) {
        if (id == Dispid::SendCommand && ++sends == changedAtSend)
            f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
    };
    f->button("cmdRewrite")->click();
    QCOMPARE(f->sentCommands().size(), 2);
    QCOMPARE(f->sentCommands()[0], command(65, SamplePrintData(), 5000, true));
    QCOMPARE(f->sentCommands()[1], command(70, "1", 60000, rewriteCheck));
}

// The rewrite would print what the device's buffer still holds from before.
void TestCardOperations::rewriteSkippedWhenDataFails()
{
    for (const ScriptedCardControl::Outcome &data : {refused(), neverEnds()}) {
        f->control->clearCalls();
        f->messages.clear();
        f->control->outcomes = {data};
        if (data.neverEnds)
            f->during(0, [&] { f->button("cmd_Cancel")->click(); });
        f->button("cmdRewrite")->click();
        QCOMPARE(f->sentCodes(), QList<int>{65});
        QCOMPARE(f->messages.size(), 1);
        QVERIFY2(f->messages[0].contains("rewrite was skipped"), qPrintable(f->messages[0]));
        QVERIFY(f->allGated(true));
    }
}

void TestCardOperations::freeCommand_data()
{
    QTest::addColumn<QString>("commandText");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<bool>("bin");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<bool>("check");
    QTest::addColumn<QVariantList>("sent");
    QTest::newRow("41 ABC 1000") << "41" << "ABC" << false << "1000" << true << command(65, "ABC", 1000, true);
    QTest::newRow("ff") << "ff" << "" << false << "" << false << command(255, "", 0, false);
    QTest::newRow("4G") << "4G" << "" << false << "" << true << command(4, "", 0, true);
    QTest::newRow("empty command") << "" << "" << false << "" << true << command(0, "", 0, true);
    QTest::newRow("G1") << "G1" << "" << false << "" << true << command(0, "", 0, true);
    QTest::newRow("typed prefix") << "&H41" << "" << false << "" << true << command(0, "", 0, true);
    QTest::newRow("escapes as typed") << "41" << "$41$42" << false << "" << true << command(65, "$41$42", 0, true);
    QTest::newRow("escapes in BIN") << "41" << "$41$42" << true << "" << true << command(65, "AB", 0, true);
    QTest::newRow("BIN FF and 00 bytes") << "41" << "$FF$00" << true << "" << true
                                         << command(65, QByteArray("\xff\x00", 2), 0, true);
    QTest::newRow("BIN Japanese and escape") << "41" << QStringLiteral("カ$0D") << true << "" << true
                                             << command(65, QByteArray("\x83\x4a\r"), 0, true);
    QTest::newRow("plain Japanese") << "41" << QStringLiteral("カード") << false << "" << true
                                    << command(65, QByteArray::fromHex("834a815b8368"), 0, true);
    QTest::newRow("wave dash from a Linux input method") << "41" << QStringLiteral("1\u301C3") << false << ""
                                                         << true << command(65, QByteArray::fromHex("31816033"), 0, true);
    QTest::newRow("yen sign in BIN") << "41" << QStringLiteral("\u00A5$0D") << true << "" << true
                                     << command(65, QByteArray("\\\r"), 0, true);
    QTest::newRow("time-out 2.5") << "41" << "" << false << "2.5" << true << command(65, "", 2, true);
    QTest::newRow("time-out 3.5") << "41" << "" << false << "3.5" << true << command(65, "", 4, true);
    QTest::newRow("time-out abc") << "41" << "" << false << "abc" << true << command(65, "", 0, true);
    QTest::newRow("time-out hex") << "41" << "" << false << "&H10" << true << command(65, "", 16, true);
}

void TestCardOperations::freeCommand()
{
    QFETCH(QString, commandText);
    QFETCH(QString, parameter);
    QFETCH(bool, bin);
    QFETCH(QString, timeout);
    QFETCH(bool, check);
    QFETCH(QVariantList, sent);
    f->edit("txt_UserCommand")->setText(commandText);
    f->edit("txt_UserParameter")->setText(parameter);
    f->find<QCheckBox>("opt_Bin")->setChecked(bin);
    f->edit("txt_UserTimeout")->setText(timeout);
    f->find<QRadioButton>(check ? "opt_DSR" : "opt_NoDSR")->setChecked(true);
    bool sendDisabled = false;
    f->during(0, [&] { sendDisabled = !f->button("cmd_Send")->isEnabled(); });
    f->button("cmd_Send")->click();
    QCOMPARE(f->sentCommands(), QList<QVariantList>{sent});
    QVERIFY(sendDisabled);
    QVERIFY(f->allGated(true));
    QVERIFY(f->messages.isEmpty());
}

void TestCardOperations::freeCommandRefusesUnusableInput_data()
{
    QTest::addColumn<QString>("commandText");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<bool>("bin");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<QStringList>("mentions");
    QTest::newRow("time-out") << "41" << "" << false << "99999999999" << QStringList{"Time Out", "99999999999"};
    QTest::newRow("nine hex digits") << "123456789" << "" << false << "1000" << QStringList{"Command", "123456789"};
    QTest::newRow("code 100") << "100" << "" << false << "1000" << QStringList{"Command", "\"100\"", "00 to FF"};
    QTest::newRow("eight F digits") << "FFFFFFFF" << "" << false << "1000" << QStringList{"Command", "FFFFFFFF"};
    QTest::newRow("e acute") << "41" << QStringLiteral("\u00E9100") << false << "" << QStringList{"U+00E9"};
    QTest::newRow("e acute in BIN") << "41" << QStringLiteral("$41\u00E9") << true << "" << QStringList{"U+00E9"};
    QTest::newRow("lone surrogate") << "41" << QString(QChar(0xDC00)) << false << "" << QStringList{"U+DC00"};
}

void TestCardOperations::freeCommandRefusesUnusableInput()
{
    QFETCH(QString, commandText);
    QFETCH(QString, parameter);
    QFETCH(bool, bin);
    QFETCH(QString, timeout);
    QFETCH(QStringList, mentions);
    qint32 port = 1;
    qint32 speed = 1;
    f->control->OpenLink(port, speed, 1, 1);
    f->control->StartLink(0);
    f->edit("txt_UserCommand")->setText(commandText);
    f->edit("txt_UserParameter")->setText(parameter);
    f->find<QCheckBox>("opt_Bin")->setChecked(bin);
    f->edit("txt_UserTimeout")->setText(timeout);
    f->button("cmd_Send")->click();
    QVERIFY(f->sentCommands().isEmpty());
    QCOMPARE(f->messages.size(), 1);
    for (const QString &mention : mentions)
        QVERIFY2(f->messages[0].contains(mention), qPrintable(f->messages[0]));
    QVERIFY(f->allGated(true));
    // Nothing reached the display either.
    QCOMPARE(f->edit("dis_Cmd")->text(), QString());
    // The link stays started: the control never saw the value, so nothing stopped it.
    QCOMPARE(f->control->count(Dispid::StopLink), 0);
    QCOMPARE(f->control->status(), LinkStatus::Idle);
}

void TestCardOperations::freeCommandReadsBoxesAtClick()
{
    f->edit("txt_UserCommand")->setText("49");
    f->control->outcomes = {runsFor(30), runsFor(5)};
    f->during(0, [&] {
        f->edit("txt_UserCommand")->setText("50");
        f->find<QRadioButton>("opt_NoDSR")->setChecked(true);
    });
    f->button("cmd_Send")->click();
    f->button("cmd_Send")->click();
    QCOMPARE(f->sentCommands(), (QList<QVariantList>{command(0x49, "", 0, true), command(0x50, "", 0, false)}));
}

QTEST_MAIN(TestCardOperations)
#include "tst_cardoperations.moc"
