#include "CommandRun.h"
#include "control/LinkJournal.h"
#include "LinkSession.h"
#include "protocol/CardOperations.h"
#include "ScriptedCardControl.h"
#include "ResultStream.h"
#include "ScriptReader.h"
#include "SendOptions.h"
#include "TestHelpers.h"
#include "transport/LinkEndpoints.h"

#include <QTemporaryDir>
#include <QTimer>

#include <QTest>

// kestra-send's script reading: how a line splits into words, which lines are refused (with their
// line number, and then no command at all), and the time-outs and DSR checks the plan gives; and
// its session's calls on a card control.

class TestSendScript : public QObject
{
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void refusedScript_data();
    void refusedScript();
    void settingsOfThePlan();
    void sessionCalls_data();
    void sessionCalls();
    void operationSteps_data();
    void operationSteps();
};

Q_DECLARE_METATYPE(ScriptedCardControl::Outcome)

namespace {

ScriptedCardControl::Outcome ended(QVariant errorCode = 0, QVariant status = DeviceStatus::Normal)
{
    ScriptedCardControl::Outcome outcome;
    outcome.runMs = 2;
    outcome.errorCode = errorCode;
    outcome.responseCode = status;
    return outcome;
}

ScriptedCardControl::Outcome refusedCommand()
{
    ScriptedCardControl::Outcome outcome;
    outcome.sendResult = 1;
    return outcome;
}

} // namespace

void TestSendScript::split_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words"); // {"ERROR"} when the line is refused
    QTest::newRow("blanks and tabs") << " write \t\"a b\"  c " << QStringList{"write", "a b", "c"};
    QTest::newRow("single quotes keep all") << R"(write 'x"y\z' # note)" << QStringList{"write", R"(x"y\z)"};
    QTest::newRow("escapes in double quotes") << R"(code 41 --param "a\"b\\c")" << QStringList{"code", "41", "--param", R"(a"b\c)"};
    QTest::newRow("backslash outside quotes") << R"(a\ b\#)" << QStringList{"a b#"};
    QTest::newRow("escaped characters alone make words") << R"(write \# \a)" << QStringList{"write", "#", "a"};
    QTest::newRow("empty quoted word") << R"("" x)" << QStringList{"", "x"};
    QTest::newRow("quoted hash") << R"(write "#1" '#2'#3)" << QStringList{"write", "#1", "#2"};
    QTest::newRow("comment only") << "   # read" << QStringList{};
    QTest::newRow("open double quote") << R"(write "abc)" << QStringList{"ERROR"};
    QTest::newRow("open single quote") << "write 'abc" << QStringList{"ERROR"};
    QTest::newRow("escape in open double quote") << R"(write "abc\)" << QStringList{"ERROR"};
    QTest::newRow("trailing backslash") << R"(read \)" << QStringList{"ERROR"};
}

void TestSendScript::split()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    const SplitLine split = splitWords(line);
    if (words == QStringList{"ERROR"}) {
        QVERIFY(!split.error.isEmpty());
        return;
    }
    QVERIFY2(split.error.isEmpty(), qPrintable(split.error));
    QCOMPARE(split.words, words);
}

void TestSendScript::refusedScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("errorStart");
    QTest::addColumn<QString>("errorHas");
    QTest::newRow("unknown command") << "read\n\nfly\n" << "s.txt:3: " << "'fly'";
    QTest::newRow("write without text") << "write\n" << "s.txt:1: " << "TEXT";
    QTest::newRow("text split by a blank") << "# note\nwrite a b\n" << "s.txt:2: " << "'b'";
    QTest::newRow("word after read") << "read now\n" << "s.txt:1: " << "'now'";
    QTest::newRow("code 100") << "code 100\n" << "s.txt:1: " << "'100'";
    QTest::newRow("code without hex") << "eject\ncode\n" << "s.txt:2: " << "code HEX";
    QTest::newRow("param and bin") << "code 41 --param a --bin b\n" << "s.txt:1: " << "exclude";
    QTest::newRow("negative time-out") << "code 41 --timeout -1\n" << "s.txt:1: " << "'-1'";
    QTest::newRow("option without value") << "code 41 --param\n" << "s.txt:1: " << "--param";
    QTest::newRow("unknown option") << "code 41 --fast\n" << "s.txt:1: " << "'--fast'";
    QTest::newRow("character outside CP932") << "read\nwrite \"\U0001F600\"\n" << "s.txt:2: " << "U+1F600";
    QTest::newRow("parameter longer than the device takes")
        << "read\nwrite " + QString(65535, u'x') + "\n" << "s.txt:2: " << "65535 bytes; the device takes at most 65534";
    QTest::newRow("longest BIN parameter, one byte too many")
        << "code 39 --bin " + QString(65535, u'x') + "\n" << "s.txt:1: " << "--bin: the parameter is 65535 bytes";
    QTest::newRow("open quote after good lines") << "read\nclear\nwrite \"x\n" << "s.txt:3: " << "quote";
    QTest::newRow("word after reopen") << "read\nreopen now\n" << "s.txt:2: " << "'now'";
}

void TestSendScript::refusedScript()
{
    QFETCH(QString, script);
    QFETCH(QString, errorStart);
    QFETCH(QString, errorHas);
    const CommandPlan plan = planScript(script, QStringLiteral("s.txt"), {});
    QVERIFY(plan.error.startsWith(errorStart));
    QVERIFY2(plan.error.contains(errorHas), qPrintable(plan.error));
    QVERIFY(plan.commands.isEmpty());
}

// --timeout reaches a free command and write's first two commands only; the eject keeps its own
// time-out; the sample's print data is checked for DSR whatever --no-dsr says. A reopen is a step
// of its own, so that the command before it ends its operation there.
void TestSendScript::settingsOfThePlan()
{
    const CommandDefaults defaults{1234, false};
    const CommandPlan plan = planScript(QStringLiteral("write abc\nsample\ncode 41 --timeout 0 --dsr\ncode 4a\nreopen\n"),
                                        QStringLiteral("s"), defaults);
    QVERIFY2(plan.ok(), qPrintable(plan.error));
    QCOMPARE(plan.commands.size(), 8);
    QVERIFY(plan.commands[7].reopen && plan.commands[7].line == 5 && plan.commands[7].group == 5);
    struct Expected { int line; int group; quint8 code; qint32 timeout; bool dsr; };
    const QList<Expected> expected{
        {1, 1, DeviceCommand::MagneticData, 1234, false},
        {1, 1, DeviceCommand::MagneticWrite, 1234, false},
        {1, 1, DeviceCommand::Eject, CardOperations::Eject.timeoutMs, false},
        {2, 2, DeviceCommand::PrintData, CardOperations::PrintSample.timeoutMs, true},
        {2, 2, DeviceCommand::Rewrite, CardOperations::Rewrite.timeoutMs, false},
        {3, 3, 0x41, 0, true},
        {4, 4, 0x4A, 1234, false},
    };
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const PlannedCommand &c = plan.commands[i];
        QCOMPARE(c.line, expected[i].line);
        QCOMPARE(c.group, expected[i].group);
        QCOMPARE(c.code, expected[i].code);
        QCOMPARE(c.timeoutMs, expected[i].timeout);
        QCOMPARE(c.dsr, expected[i].dsr);
    }
}

// The window's buttons run the same rows (tests/console/tst_cardoperations.cpp, operationSteps):
// the commands that reach the control and the journal's skipped line are the same in both.
void TestSendScript::operationSteps_data()
{
    using Outcomes = QList<ScriptedCardControl::Outcome>;
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Outcomes>("outcomes");
    QTest::addColumn<QList<int>>("sent");
    QTest::addColumn<QString>("skipped"); // the journal's skipped text; empty: nothing skipped
    QTest::addColumn<int>("exitStatus");
    const QString stale = QStringLiteral(", so the device may still hold an earlier card's data");
    QTest::newRow("write, all complete") << "write" << Outcomes{} << QList<int>{0x39, 0x31, 0x50} << "" << 0;
    QTest::newRow("write, data refused") << "write" << Outcomes{refusedCommand()} << QList<int>{0x39, 0x50}
                                         << "code 31 (write 2/3): write 1/3 ended with result -1" + stale << 3;
    QTest::newRow("write, data timed out") << "write" << Outcomes{ended(LinkError::TimedOut)} << QList<int>{0x39, 0x50}
                                           << "code 31 (write 2/3): write 1/3 ended with result 1" + stale << 1;
    QTest::newRow("write, the write fails") << "write" << Outcomes{ended(), ended(0, 0x34)}
                                            << QList<int>{0x39, 0x31, 0x50} << "" << 3;
    QTest::newRow("sample, all complete") << "sample" << Outcomes{} << QList<int>{0x41, 0x46} << "" << 0;
    QTest::newRow("sample, print data status 34") << "sample" << Outcomes{ended(0, 0x34)} << QList<int>{0x41}
                                                  << "code 46 (sample 2/2): sample 1/2 ended with result -1" + stale << 3;
    QTest::newRow("read refused") << "read" << Outcomes{refusedCommand()} << QList<int>{0x22} << "" << 3;
}

void TestSendScript::operationSteps()
{
    QFETCH(QString, operation);
    QFETCH(QList<ScriptedCardControl::Outcome>, outcomes);
    QFETCH(QList<int>, sent);
    QFETCH(QString, skipped);
    QFETCH(int, exitStatus);

    QTemporaryDir dir;
    LinkJournal journal;
    QVERIFY(journal.open(dir.filePath(QStringLiteral("journal.log")), nullptr));
    ScriptedCardControl control;
    control.outcomes = outcomes;
    control.defaultOutcome = ended();
    LinkEndpoints endpoints;
    LinkSession session(control, endpoints);
    SendOptions options;
    options.link.kind = LinkTarget::Kind::Tcp;
    options.link.host = QStringLiteral("127.0.0.1");
    QStringList words{operation};
    if (operation == u"write")
        words << QStringLiteral("%NEW?");
    const CommandPlan plan = planOperationWords(words, options.defaults);
    QVERIFY2(plan.ok(), qPrintable(plan.error));
    QString error;
    QVERIFY2(session.open(options.link, &error), qPrintable(error));
    std::FILE *lines = std::tmpfile();
    ResultStream output(lines);
    CommandRun run(session, output, options);
    run.setJournal(&journal);
    QCOMPARE(run.run(plan.commands), exitStatus);
    session.close();
    std::fclose(lines);
    journal.flush();

    QList<int> codes;
    for (const ScriptedCardControl::Call &call : control.callsOf(Dispid::SendCommand))
        codes << call.args[0].toInt();
    QCOMPARE(codes, sent);
    QFile file(journal.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> skippedLines;
    for (const QByteArray &line : withoutSessions(file.readAll()).split('\n'))
        if (line.contains("-- skipped "))
            skippedLines << line;
    QCOMPARE(skippedLines.size(), skipped.isEmpty() ? 0 : 1);
    if (!skipped.isEmpty())
        QVERIFY2(skippedLines[0].endsWith("-- skipped " + skipped.toUtf8()), skippedLines[0]);
}

QTEST_GUILESS_MAIN(TestSendScript)
#include "tst_sendscript.moc"

void TestSendScript::sessionCalls_data()
{
    QTest::addColumn<QVariant>("errorCode");
    QTest::addColumn<QVariant>("status");
    QTest::addColumn<bool>("interrupted"); // the command never ends by itself: Ctrl-C ends it
    QTest::addColumn<int>("result");
    QTest::newRow("answered") << QVariant(0) << QVariant(0x20) << false << 0;
    QTest::newRow("device status 33") << QVariant(0) << QVariant(0x33) << false << -1;
    QTest::newRow("timed out") << QVariant(LinkError::TimedOut) << QVariant(0) << false << 1;
    QTest::newRow("interrupted") << QVariant(0) << QVariant(0x20) << true << -1;
}

// The session's order of calls is the window's: open, start, send, the outcome once the command
// has ended, stop, close; an interruption aborts the running command.
void TestSendScript::sessionCalls()
{
    QFETCH(QVariant, errorCode);
    QFETCH(QVariant, status);
    QFETCH(bool, interrupted);
    QFETCH(int, result);

    ScriptedCardControl control;
    ScriptedCardControl::Outcome outcome;
    outcome.runMs = 5;
    outcome.neverEnds = interrupted;
    outcome.errorCode = errorCode;
    outcome.responseCode = status;
    control.outcomes << outcome;
    LinkEndpoints endpoints;
    LinkSession session(control, endpoints);
    LinkTarget target;
    target.kind = LinkTarget::Kind::Tcp;
    target.host = QStringLiteral("127.0.0.1");
    QString error;
    QVERIFY2(session.open(target, &error), qPrintable(error));
    if (interrupted)
        QTimer::singleShot(20, &control, [&session] { session.interrupt(); });
    PlannedCommand command;
    command.code = 0x22;
    command.timeoutMs = 1000;
    const CommandOutcome ended = session.run(command);
    session.close();

    QCOMPARE(ended.result, result);
    QList<Dispid> expected{Dispid::OpenLink, Dispid::StartLink, Dispid::SendCommand};
    if (interrupted)
        expected << Dispid::AbortCommand;
    QCOMPARE(control.count(Dispid::AbortCommand), interrupted ? 1 : 0);
    QList<Dispid> calls = control.callIds();
    calls.removeAll(Dispid::CommStatus); // polled while waiting: how often is not the point
    QCOMPARE(calls.mid(0, expected.size()), expected);
    QCOMPARE(calls.mid(calls.size() - 2), (QList<Dispid>{Dispid::StopLink, Dispid::CloseLink}));
}
