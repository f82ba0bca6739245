#include "window/CommandRunner.h"
#include "window/ResponseDisplay.h"
#include "ScriptedCardControl.h"

#include <QPoint>
#include <QTest>
#include <QTimer>

using Outcome = ScriptedCardControl::Outcome;

Q_DECLARE_METATYPE(QList<Dispid>)

namespace {

// The four boxes and the beeps, as the runner leaves them.
class FakeDisplay : public ResponseDisplay
{
public:
    QString command, code, data, result;
    int beeps = 0;
    void setCommandBox(const QString &text) override { command = text; }
    void setCodeBox(const QString &text) override { code = text; }
    void setDataBox(const QString &text) override { data = text; }
    void setResultBox(const QString &text) override { result = text; }
    void beep() override { ++beeps; }
    void fill()
    {
        command = code = data = result = QStringLiteral("old");
    }
};

QByteArray cp932(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void outcome_data();
    void outcome();
    void commandCodeDisplay_data();
    void commandCodeDisplay();
    void onlyCommandCodeShownWhileRunning();
    void argumentsReachControl_data();
    void argumentsReachControl();
    void refusal_data();
    void refusal();
    void finishedCommandTakesOnePassAndOneRead();
    void waitBlocksInsteadOfPolling();
    void callOrder_data();
    void callOrder();
    void nestedRunAfterAbort();
    void unconvertibleResultLeavesRunner_data();
    void unconvertibleResultLeavesRunner();
    void afterCommandChangesNothing_data();
    void afterCommandChangesNothing();

private:
    std::unique_ptr<ScriptedCardControl> m_control;
    std::unique_ptr<FakeDisplay> m_display;
    std::unique_ptr<CommandRunner> m_runner;
};

void TestCommandRunner::init()
{
    m_control = std::make_unique<ScriptedCardControl>();
    m_display = std::make_unique<FakeDisplay>();
    m_runner = std::make_unique<CommandRunner>(*m_control, *m_display);
}

void TestCommandRunner::cleanup()
{
    m_runner.reset();
    m_display.reset();
    m_control.reset();
}

void TestCommandRunner::outcome_data()
{
    QTest::addColumn<QVariant>("errorCode");
    QTest::addColumn<QVariant>("responseCode");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("codeBox");
    QTest::addColumn<QString>("dataBox");
    QTest::addColumn<int>("responseOut");

    QTest::newRow("normal") << QVariant(0) << QVariant(0x20) << QByteArray("OK") << 0 << "&H 20" << "OK" << 0x20;
    QTest::newRow("abnormal response") << QVariant(0) << QVariant(0x21) << QByteArray() << -1 << "&H 21" << "" << 0x21;
    QTest::newRow("response code 0") << QVariant(0) << QVariant(0) << QByteArray() << -1 << "&H 0" << "" << 0;
    QTest::newRow("time-out keeps data and response code")
        << QVariant(107) << QVariant(0x20) << QByteArray("partial") << 1 << "" << "partial" << 0x20;
    QTest::newRow("link lost") << QVariant(103) << QVariant(0) << QByteArray() << -1 << "" << "" << 0;
    QTest::newRow("aborted") << QVariant(106) << QVariant(0) << QByteArray() << -1 << "" << "" << 0;
    QTest::newRow("error code -1") << QVariant(-1) << QVariant(0x20) << QByteArray() << -1 << "" << "" << 0x20;
    QTest::newRow("fractional codes round half to even")
        << QVariant(0.5) << QVariant(32.5) << QByteArray() << 0 << "&H 20" << "" << 32;
    QTest::newRow("CP932 data decoded") << QVariant(0) << QVariant(0x20) << cp932("834a815b8368b6b0c4de") << 0
                                        << "&H 20" << QStringLiteral("カードｶｰﾄﾞ") << 0x20;
    QTest::newRow("undecodable byte shows as replacement")
        << QVariant(0) << QVariant(0x20) << cp932("41ff42") << 0 << "&H 20" << QStringLiteral("A\uFFFDB") << 0x20;
    QTest::newRow("lone lead byte at end") << QVariant(0) << QVariant(0x20) << cp932("4182") << 0 << "&H 20"
                                           << QStringLiteral("A\uFFFD") << 0x20;
}

void TestCommandRunner::outcome()
{
    QFETCH(QVariant, errorCode);
    QFETCH(QVariant, responseCode);
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    QFETCH(QString, codeBox);
    QFETCH(QString, dataBox);
    QFETCH(int, responseOut);

    Outcome outcome;
    outcome.runMs = 5;
    outcome.errorCode = errorCode;
    outcome.responseCode = responseCode;
    outcome.responseData = data;
    m_control->outcomes = {outcome};
    m_display->fill();

    qint32 code = -7;
    QByteArray bytes = "before";
    QCOMPARE(m_runner->RunCommand(0x22, {}, 1000, true, code, bytes), result);
    QCOMPARE(code, responseOut);
    QCOMPARE(bytes, data);
    QCOMPARE(m_display->command, QStringLiteral("&h 22"));
    QCOMPARE(m_display->code, codeBox);
    QCOMPARE(m_display->data, dataBox);
    QCOMPARE(m_display->result, QString::number(result));
    QCOMPARE(m_display->beeps, 1);
}

void TestCommandRunner::commandCodeDisplay_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("shown");
    QTest::newRow("eject") << 80 << "&h 50";
    QTest::newRow("zero") << 0 << "&h 0";
    QTest::newRow("255") << 255 << "&h FF";
    QTest::newRow("-1") << -1 << "&h FFFFFFFF";
    QTest::newRow("min") << int(-2147483647 - 1) << "&h 80000000";
}

void TestCommandRunner::commandCodeDisplay()
{
    QFETCH(int, code);
    QFETCH(QString, shown);
    m_display->fill();
    m_runner->ShowCommandCode(code);
    QCOMPARE(m_display->command, shown);
    QCOMPARE(m_display->code, QString());
    QCOMPARE(m_display->data, QString());
    QCOMPARE(m_display->result, QString());
}

void TestCommandRunner::onlyCommandCodeShownWhileRunning()
{
    Outcome outcome;
    outcome.runMs = 50;
    outcome.responseData = QByteArray("data");
    m_control->outcomes = {outcome};
    m_display->fill();

    QStringList during;
    int beepsDuring = -1;
    QTimer::singleShot(0, [&] {
        during = {m_display->command, m_display->code, m_display->data, m_display->result};
        beepsDuring = m_display->beeps;
    });
    qint32 code = 0;
    QByteArray data;
    m_runner->RunCommand(80, "1", 10000, false, code, data);
    QCOMPARE(during, (QStringList{"&h 50", "", "", ""}));
    QCOMPARE(beepsDuring, 0);
    QCOMPARE(m_display->result, QStringLiteral("0"));
}

void TestCommandRunner::argumentsReachControl_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("parameter");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("dsr");
    QTest::newRow("read") << 34 << QByteArray() << 30000 << true;
    QTest::newRow("binary bytes") << 65 << QByteArray("\x00\xff\r\n", 4) << 0 << false;
    QTest::newRow("negative time-out") << 57 << QByteArray("abc") << -20 << true;
}

void TestCommandRunner::argumentsReachControl()
{
    QFETCH(int, code);
    QFETCH(QByteArray, parameter);
    QFETCH(int, timeout);
    QFETCH(bool, dsr);
    qint32 responseCode = 0;
    QByteArray data;
    m_runner->RunCommand(code, parameter, timeout, dsr, responseCode, data);
    const auto sends = m_control->callsOf(Dispid::SendCommand);
    QCOMPARE(sends.size(), 1);
    QCOMPARE(sends[0].args, (QVariantList{code, parameter, timeout, dsr}));
}

void TestCommandRunner::refusal_data()
{
    QTest::addColumn<QVariant>("sendResult");
    QTest::newRow("1") << QVariant(1);
    QTest::newRow("-1") << QVariant(-1);
    QTest::newRow("text number") << QVariant(QStringLiteral("5"));
}

void TestCommandRunner::refusal()
{
    QFETCH(QVariant, sendResult);
    Outcome outcome;
    outcome.sendResult = sendResult;
    m_control->outcomes = {outcome};
    m_display->fill();

    qint32 code = 1234;
    QByteArray data = "keep";
    QCOMPARE(m_runner->RunCommand(73, {}, 5000, true, code, data), -1);
    QCOMPARE(code, 1234);
    QCOMPARE(data, QByteArray("keep"));
    QCOMPARE(m_display->command, QStringLiteral("&h 49"));
    QCOMPARE(m_display->code, QString());
    QCOMPARE(m_display->data, QString());
    QCOMPARE(m_display->result, QStringLiteral("-1"));
    QCOMPARE(m_display->beeps, 0);
    QCOMPARE(m_control->callIds(), (QList<Dispid>{Dispid::SendCommand, Dispid::StopLink}));
}

void TestCommandRunner::finishedCommandTakesOnePassAndOneRead()
{
    Outcome outcome;
    outcome.endsBeforeReturn = true;
    m_control->outcomes = {outcome};

    // An event pending when the command is sent is processed before CommStatus is read.
    int statusReadsWhenPending = -1;
    QTimer::singleShot(0, [&] { statusReadsWhenPending = m_control->count(Dispid::CommStatus); });
    qint32 code = 0;
    QByteArray data;
    QCOMPARE(m_runner->RunCommand(95, {}, 30000, true, code, data), 0);
    QCOMPARE(statusReadsWhenPending, 0);
    QCOMPARE(m_control->count(Dispid::CommStatus), 1);
}

void TestCommandRunner::waitBlocksInsteadOfPolling()
{
    // A spinning wait reads CommStatus many thousand times in 300 ms; a blocking one wakes only
    // for events, and nothing else happens here.
    Outcome outcome;
    outcome.runMs = 300;
    m_control->outcomes = {outcome};
    qint32 code = 0;
    QByteArray data;
    m_runner->RunCommand(70, "1", 60000, true, code, data);
    QVERIFY2(m_control->count(Dispid::CommStatus) < 20,
             qPrintable(QString::number(m_control->count(Dispid::CommStatus))));
}

void TestCommandRunner::callOrder_data()
{
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QList<Dispid>>("afterWait");
    QTest::newRow("no error: response code read twice")
        << 0 << QList<Dispid>{Dispid::ErrorCode, Dispid::ResponseCode, Dispid::ResponseCode, Dispid::ResponseData};
    QTest::newRow("error") << 107
                           << QList<Dispid>{Dispid::ErrorCode, Dispid::ResponseCode, Dispid::ResponseData};
}

void TestCommandRunner::callOrder()
{
    QFETCH(int, errorCode);
    QFETCH(QList<Dispid>, afterWait);
    Outcome outcome;
    outcome.runMs = 20;
    outcome.errorCode = errorCode;
    m_control->outcomes = {outcome};
    qint32 code = 0;
    QByteArray data;
    m_runner->RunCommand(34, {}, 30000, true, code, data);

    QList<Dispid> ids = m_control->callIds();
    QCOMPARE(ids.first(), Dispid::SendCommand);
    ids.removeFirst();
    QVERIFY(!ids.isEmpty() && ids.first() == Dispid::CommStatus);
    while (!ids.isEmpty() && ids.first() == Dispid::CommStatus)
        ids.removeFirst();
    QCOMPARE(ids, afterWait);
}

void TestCommandRunner::nestedRunAfterAbort()
{
    // The outer command never ends by itself. During its wait the operator cancels and starts
    // another command; the nested run finishes first, and the outer run reports the control's
    // state as the nested command left it.
    Outcome outer;
    outer.neverEnds = true;
    Outcome nested;
    nested.runMs = 10;
    nested.responseCode = 0x21;
    nested.responseData = QByteArray("nested");
    m_control->outcomes = {outer, nested};

    int nestedResult = 99;
    QTimer::singleShot(0, [&] {
        m_control->AbortCommand();
        qint32 code = 0;
        QByteArray data;
        nestedResult = m_runner->RunCommand(73, {}, 5000, true, code, data);
    });
    qint32 code = 0;
    QByteArray data;
    const qint32 outerResult = m_runner->RunCommand(34, {}, 30000, true, code, data);

    QCOMPARE(nestedResult, -1);
    QCOMPARE(outerResult, -1);
    QCOMPARE(code, 0x21);
    QCOMPARE(data, QByteArray("nested"));
    QCOMPARE(m_display->command, QStringLiteral("&h 49")); // the nested run showed its code last
    QCOMPARE(m_display->code, QStringLiteral("&H 21"));
    QCOMPARE(m_display->beeps, 2);
}

void TestCommandRunner::unconvertibleResultLeavesRunner_data()
{
    QTest::addColumn<QVariant>("errorCode");
    QTest::addColumn<QVariant>("responseCode");
    QTest::addColumn<QVariant>("responseData");
    QTest::newRow("error code") << QVariant(QStringLiteral("x")) << QVariant(0x20) << QVariant();
    QTest::newRow("response code overflow") << QVariant(0) << QVariant(1e12) << QVariant();
    QTest::newRow("response data of no text type") << QVariant(0) << QVariant(0x20) << QVariant(QPoint(1, 2));
}

void TestCommandRunner::unconvertibleResultLeavesRunner()
{
    QFETCH(QVariant, errorCode);
    QFETCH(QVariant, responseCode);
    QFETCH(QVariant, responseData);
    Outcome outcome;
    outcome.endsBeforeReturn = true;
    outcome.errorCode = errorCode;
    outcome.responseCode = responseCode;
    outcome.responseData = responseData;
    m_control->outcomes = {outcome};
    qint32 code = 0;
    QByteArray data;
    QVERIFY_THROWS_EXCEPTION(UntrappedError, m_runner->RunCommand(34, {}, 30000, true, code, data));
    QCOMPARE(m_display->beeps, 0);
}

void TestCommandRunner::afterCommandChangesNothing_data()
{
    QTest::addColumn<int>("result");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("-1") << -1;
}

void TestCommandRunner::afterCommandChangesNothing()
{
    QFETCH(int, result);
    qint32 value = result;
    CommandRunner::AfterCommand(value);
    QCOMPARE(value, result);
    QVERIFY(m_control->calls.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
