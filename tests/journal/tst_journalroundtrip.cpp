// A recorded session back in the lab: kestra-send (or the console) against a faulty kestra-emu
// with a journal; kestra-journal script of it run again against kestra-emu --replay of the same
// journal; and the capture of it decoded by tshark with the Kestra dissector.

#include "Fonts.h"
#include "control/LinkJournal.h"
#include "control/Plenko.h"
#include "TestHelpers.h"
#include "frmMain.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return {};
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QString sendProgram()
{
    return qEnvironmentVariable("KESTRA_SEND");
}

QString journalProgram()
{
    return qEnvironmentVariable("KESTRA_JOURNAL");
}

QStringList journalLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(withoutSessions(file.readAll())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The bytes and outcomes of a journal without its times, durations and port numbers.
QStringList bytesAndOutcomes(const QString &path)
{
    static const QRegularExpression kept(QStringLiteral("^\\S+ (\\S+ (in|out) .*|\\S+ -- (command|resend|settle|end|lost) .*)$"));
    static const QRegularExpression duration(QStringLiteral(", \\d+ ms(,|$)"));
    static const QRegularExpression port(QStringLiteral("port \\d+"));
    QStringList lines;
    for (const QString &line : journalLines(path)) {
        const QRegularExpressionMatch match = kept.match(line);
        if (match.hasMatch())
            lines << match.captured(1).replace(duration, QStringLiteral("\\1")).replace(port, QStringLiteral("port N"));
    }
    return lines;
}

// Ends the emulator and gives its exit status.
int stopWithStatus(EmulatorProcess &emu)
{
    QProcess *process = emu.process();
    process->terminate();
    if (!process->waitForFinished(10000))
        return -1;
    const int status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    emu.stop();
    return status;
}

const QStringList kScript{
    "code 49 --timeout 400", "code 39 --param '%FIELD 7?' --timeout 400", "code 31 --param 2 --timeout 400",
    "code 22 --timeout 400", "code 41 --bin '1, 0, 0,$83$4a$0d' --timeout 400", "code 50 --param 1 --timeout 400",
    "code 22 --timeout 400", "code 49 --timeout 400", "code 22 --timeout 400", "code 48 --param 1 --timeout 400",
    "code 39 --bin '$02$$03' --timeout 400", "code 22 --timeout 400"};

} // namespace

class TestJournalRoundTrip : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sendSessionReplays_data();
    void sendSessionReplays();
    void consoleSessionOverPtyReplays();
    void captureDecodesInTshark();

private:
    QString recordSendSession(const QStringList &emulatorArgs);
    // Turns the journal into a script, runs it with kestra-send against the replay and returns
    // the replay's exit status; the second journal goes to replayJournal.
    int replayScript(const QString &journal, const QStringList &link, bool pty, bool editOneByte,
                     const QString &replayJournal, QByteArray *emulatorErrors);

    QTemporaryDir m_dir;
};

void TestJournalRoundTrip::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU") || sendProgram().isEmpty() || journalProgram().isEmpty())
        QSKIP("KESTRA_EMU, KESTRA_SEND and KESTRA_JOURNAL name the programs (run through CTest)");
    installFontSubstitutions();
    QVERIFY(m_dir.isValid());
}

QString TestJournalRoundTrip::recordSendSession(const QStringList &emulatorArgs)
{
    EmulatorProcess::Options options;
    options.extraArgs = emulatorArgs;
    EmulatorProcess emu(options);
    if (!emu.start())
        return {};
    const QString script = m_dir.filePath(QStringLiteral("session.txt"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(kScript.join(QLatin1Char('\n')).toUtf8());
    file.close();
    const QString journal = m_dir.filePath(QStringLiteral("field-%1.log").arg(emulatorArgs.join(QLatin1Char('_'))));
    QFile::remove(journal);
    run(sendProgram(), {"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort()), "--keep-going", "--journal",
                        journal, "-f", script});
    return journal;
}

int TestJournalRoundTrip::replayScript(const QString &journal, const QStringList &link, bool pty, bool editOneByte,
                                       const QString &replayJournal, QByteArray *emulatorErrors)
{
    const Finished script = run(journalProgram(), {"script", journal});
    if (script.exitCode != 0)
        return -2;
    QByteArray text = script.out;
    if (editOneByte) // the first --param's first character
        text[text.indexOf("--param '") + 9] = 'X';
    const QString scriptPath = m_dir.filePath(QStringLiteral("replay.txt"));
    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly))
        return -2;
    file.write(text);
    file.close();

    EmulatorProcess::Options options;
    options.pty = pty;
    options.extraArgs = {"--replay", journal};
    EmulatorProcess emu(options);
    if (!emu.start())
        return -2;
    QFile::remove(replayJournal);
    // The recording's link was COM1: the replay names it the same way, so that the lines compare.
    QStringList args = link.isEmpty() ? QStringList{"--com", "1=" + emu.ptyPath()}
                                      : QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
    run(sendProgram(), args << "--keep-going" << "--journal" << replayJournal << "-f" << scriptPath);
    const int status = stopWithStatus(emu);
    *emulatorErrors = emu.standardError();
    return status;
}

void TestJournalRoundTrip::sendSessionReplays_data()
{
    QTest::addColumn<bool>("edited");
    QTest::newRow("the script as made") << false;
    QTest::newRow("the script edited by one byte") << true;
}

void TestJournalRoundTrip::sendSessionReplays()
{
    QFETCH(bool, edited);
    const QString field = recordSendSession({"--time-scale", "0", "--reinsert-ms", "0", "--fault-mix", "7:0.5",
                                             "--mix-timeout", "4000"});
    // Late answers come long after the 400 ms time-outs, never racing them.
    QVERIFY(!field.isEmpty());
    const QStringList recorded = bytesAndOutcomes(field);
    // The mix put faults on the line: damaged frames and time-outs.
    QVERIFY2(recorded.filter(" in bad-frame ").size() > 0, qPrintable(recorded.join('\n')));
    QVERIFY2(recorded.filter("result 1").size() > 0, qPrintable(recorded.join('\n')));

    if (!edited) {
        // The summary counts what the lines say.
        const Finished summary = run(journalProgram(), {"summary", "--json", field});
        QCOMPARE(summary.exitCode, 0);
        const QJsonObject counts = QJsonDocument::fromJson(summary.out).object();
        QCOMPARE(counts["damaged_frames"].toInt(), recorded.filter(" in bad-frame ").size());
        QCOMPARE(counts["resends"].toInt(), recorded.filter(" -- resend ").size());
        QCOMPARE(counts["settles"].toInt(), recorded.filter(" -- settle ").size());
        int ended = 0, timedOut = 0;
        for (const QJsonValue code : counts["codes"].toArray()) {
            ended += code["count"].toInt();
            timedOut += code["result_1"].toInt();
        }
        QCOMPARE(ended, recorded.filter(" -- end ").size());
        QCOMPARE(timedOut, recorded.filter("result 1").size());
    }

    const QString again = m_dir.filePath(QStringLiteral("again.log"));
    QByteArray errors;
    const int status = replayScript(field, {"tcp"}, false, edited, again, &errors);
    if (!edited) {
        QCOMPARE(bytesAndOutcomes(again), recorded);
        QCOMPARE(status, 0);
        QVERIFY2(errors.contains(" commands matched, 0 diverged, 0 not replayed"), errors.constData());
    } else {
        QVERIFY(bytesAndOutcomes(again) != recorded);
        QCOMPARE(status, 1);
        QVERIFY2(errors.contains("the command frame differs from the recording: expected 02 00 0a 39 25 46 49"),
                 errors.constData());
        QVERIFY2(errors.contains(" 1 diverged"), errors.constData());
    }
}

void TestJournalRoundTrip::consoleSessionOverPtyReplays()
{
    // The console's buttons on the pseudo-terminal as COM1, with the journal of brindle --journal.
    const QString field = m_dir.filePath(QStringLiteral("console.log"));
    {
        EmulatorProcess::Options options;
        options.pty = true;
        options.extraArgs = {"--time-scale", "0", "--reinsert-ms", "0", "--fault", "bad-bcc-once"};
        EmulatorProcess emu(options);
        QVERIFY2(emu.start(), qPrintable(emu.errorText()));
        qputenv("PLENKO_COM1", QFile::encodeName(emu.ptyPath()));
        LinkJournal journal;
        QVERIFY(journal.open(field, nullptr));
        auto plenko = std::make_unique<Plenko>();
        Plenko *control = plenko.get();
        control->setJournal(&journal);
        frmMain window(std::move(plenko));
        window.setMessageSink([](const QString &) {});
        window.setBeep([] {});
        window.setEndProgram([](int) {});
        window.show();
        qint32 port = 1;
        qint32 speed = 2; // 9600 bit/s
        QCOMPARE(variantToInt32(control->OpenLink(port, speed, 1, 1)), 0);
        QCOMPARE(variantToInt32(control->StartLink(0)), 0);
        window.findChild<QRadioButton *>("opt_NoDSR")->setChecked(true); // a pseudo-terminal has no DSR
        window.findChild<QLineEdit *>("txt_UserParameter")->setText(QStringLiteral("%カード 1?"));
        window.findChild<QLineEdit *>("txt_UserTimeout")->setText("3000");
        for (const char *button : {"cmd_Clear", "cmdMagwrite", "cmd_Mg2Read", "cmd_Exit"}) {
            window.findChild<QPushButton *>(button)->click();
            QTRY_VERIFY_WITH_TIMEOUT(variantToInt32(control->CommStatus()) == LinkStatus::Idle, 10000);
        }
        control->StopLink();
        control->CloseLink();
        qunsetenv("PLENKO_COM1");
    }
    const QStringList recorded = bytesAndOutcomes(field);
    QVERIFY2(recorded.filter("com1 in bad-frame ").size() >= 4, qPrintable(recorded.join('\n')));
    QVERIFY2(recorded.filter("com1 -- end ").size() == 6, qPrintable(recorded.join('\n')));

    const QString again = m_dir.filePath(QStringLiteral("console-again.log"));
    QByteArray errors;
    QCOMPARE(replayScript(field, {}, true, false, again, &errors), 0);
    QCOMPARE(bytesAndOutcomes(again), recorded);
}

void TestJournalRoundTrip::captureDecodesInTshark()
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (scripts/deps.sh --test installs it)");
    const QString field = recordSendSession({"--time-scale", "0", "--reinsert-ms", "0", "--fault-mix", "8:0.5",
                                             "--mix-timeout", "4000"});
    QVERIFY(!field.isEmpty());

    // Wireshark runs no Lua for root: then tshark runs as nobody, from a folder it may read.
    QTemporaryDir shared(QDir::tempPath() + QStringLiteral("/kestra-tshark-XXXXXX"));
    QVERIFY(QFile::setPermissions(shared.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                     | QFileDevice::ReadOther | QFileDevice::ExeOther
                                                     | QFileDevice::ReadGroup | QFileDevice::ExeGroup));
    const QString capture = shared.filePath(QStringLiteral("field.pcapng"));
    const QString dissector = shared.filePath(QStringLiteral("kestra.lua"));
    QCOMPARE(run(journalProgram(), {"pcapng", field, "-o", capture}).exitCode, 0);
    QVERIFY(QFile::copy(qEnvironmentVariable("KESTRA_LUA"), dissector));
    for (const QString &file : {capture, dissector})
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QStringList command{tshark, "-X", "lua_script:" + dissector, "-r", capture, "-T", "fields", "-E", "separator=,",
                        "-e", "kestra.direction", "-e", "kestra.kind", "-e", "kestra.code", "-e", "kestra.status",
                        "-e", "kestra.bcc_good"};
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv to run tshark as nobody");
        command = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "env",
                              "HOME=" + shared.path()} + command;
        command.prepend(setpriv);
    }
    const QString program = command.takeFirst();
    const Finished decoded = run(program, command);
    QVERIFY2(decoded.exitCode == 0, decoded.err.constData());
    // The print data's parameter as CP932 text, its carriage return escaped.
    QStringList textOnly = command.mid(0, command.indexOf("-e"));
    textOnly << "-Y" << "kestra.code == 0x41" << "-e" << "kestra.param_text";
    const Finished text = run(program, textOnly);
    QCOMPARE(QString::fromUtf8(text.out).section(QLatin1Char('\n'), 0, 0), QStringLiteral("1, 0, 0,カ\\x0d"));

    // What the journal's byte lines say, written the dissector's way.
    QStringList expected;
    static const QRegularExpression bytesLine(QStringLiteral("^\\S+ \\S+ (in|out) (\\S+) ([0-9a-f ]+) \\|"));
    for (const QString &line : journalLines(field)) {
        const QRegularExpressionMatch m = bytesLine.match(line);
        if (!m.hasMatch())
            continue;
        const QStringList bytes = m.captured(3).trimmed().split(QLatin1Char(' '));
        const bool out = m.captured(1) == u"out";
        const QString kind = m.captured(2);
        QString row = out ? QStringLiteral("to device,") : QStringLiteral("from device,");
        if (kind == u"ACK" || kind == u"NAK")
            row += kind + QStringLiteral(",,,");
        else if (kind == u"stray")
            row += QStringLiteral("stray,,,");
        else if (out)
            row += QStringLiteral("command,0x%1,,1").arg(bytes.value(3));
        else
            row += QStringLiteral("response,,0x%1,%2").arg(bytes.value(3), kind == u"bad-frame" ? "0" : "1");
        expected << row;
    }
    const QStringList rows = QString::fromUtf8(decoded.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(expected.filter(QRegularExpression(QStringLiteral(",0$"))).size() > 0, "the session should hold a damaged frame");
    QCOMPARE(rows, expected);
}

QTEST_MAIN(TestJournalRoundTrip)
#include "tst_journalroundtrip.moc"
