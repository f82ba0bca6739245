// A recorded session back in the lab: kestra-send (or the console) against a faulty kestra-emu
// with a journal; kestra-journal script of it run again against kestra-emu --replay of the same
// journal, also when the journal holds several sessions; and the capture of it decoded by tshark
// with the Kestra dissector.

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
#include <QTcpServer>
#include <QTcpSocket>
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

// A replay ends by itself at the end of the recording: its exit status, or -1 when it did not
// end within 10 s.
int replayStatus(EmulatorProcess &emu)
{
    QProcess *process = emu.process();
    const bool ended = process->state() == QProcess::NotRunning || process->waitForFinished(10000);
    const int status = ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    emu.stop();
    return status;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString tcpLink(const EmulatorProcess &emu)
{
    return QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort());
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
    void appendedSessionsWithALossReplay();
    void overlappingSessionsReplayOneLink_data();
    void overlappingSessionsReplayOneLink();
    void scriptReopenThatFails();
    void captureDecodesInTshark();

private:
    QString recordSendSession(const QStringList &emulatorArgs);
    // Turns the journal into a script, runs it with kestra-send against the replay and returns
    // the replay's exit status; the second journal goes to replayJournal.
    // choice: --link or --session for both.
    int replayScript(const QString &journal, const QStringList &link, bool pty, bool editOneByte,
                     const QString &replayJournal, QByteArray *emulatorErrors, const QStringList &choice = {});

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
                                       const QString &replayJournal, QByteArray *emulatorErrors,
                                       const QStringList &choice)
{
    const Finished script = run(journalProgram(), QStringList{"script", journal} + choice);
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
    options.extraArgs = QStringList{"--replay", journal} + choice;
    EmulatorProcess emu(options);
    if (!emu.start())
        return -2;
    QFile::remove(replayJournal);
    // The recording's link was COM1: the replay names it the same way, so that the lines compare.
    QStringList args = link.isEmpty() ? QStringList{"--com", "1=" + emu.ptyPath()}
                                      : QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
    run(sendProgram(), args << "--keep-going" << "--journal" << replayJournal << "-f" << scriptPath);
    const int status = replayStatus(emu);
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

void TestJournalRoundTrip::appendedSessionsWithALossReplay()
{
    // Three runs appended to one journal; the second one's device hangs up in its first answer,
    // and the rest of that run is refused.
    const QString field = m_dir.filePath(QStringLiteral("appended.log"));
    const QString script = m_dir.filePath(QStringLiteral("appended.txt"));
    QVERIFY(writeFile(script, "code 49 --timeout 400\ncode 39 --param ABC --timeout 400\ncode 22 --timeout 400\n"));
    QFile::remove(field);
    for (const QStringList &fault : {QStringList{}, QStringList{"--fault", "close-mid", "--fault-count", "1"}, QStringList{}}) {
        EmulatorProcess::Options options;
        options.extraArgs = QStringList{"--time-scale", "0", "--reinsert-ms", "0"} + fault;
        EmulatorProcess emu(options);
        QVERIFY2(emu.start(), qPrintable(emu.errorText()));
        run(sendProgram(), {"--tcp", tcpLink(emu), "--keep-going", "--journal", field, "-f", script});
    }
    const QStringList recorded = bytesAndOutcomes(field);
    QCOMPARE(recorded.filter(" -- lost ").size(), 1);
    QCOMPARE(journalLines(field).filter(" -- refused ").size(), 2);

    const QString again = m_dir.filePath(QStringLiteral("appended-again.log"));
    QByteArray errors;
    QCOMPARE(replayScript(field, {"tcp"}, false, false, again, &errors), 0);
    QCOMPARE(bytesAndOutcomes(again), recorded);
    QVERIFY2(errors.contains(" commands matched, 0 diverged, 0 not replayed"), errors.constData());
}

void TestJournalRoundTrip::overlappingSessionsReplayOneLink_data()
{
    QTest::addColumn<bool>("bySession");
    QTest::newRow("--link tcp") << false;
    QTest::newRow("--session of the TCP run") << true;
}

void TestJournalRoundTrip::overlappingSessionsReplayOneLink()
{
    QFETCH(bool, bySession);
    // A run on the pseudo-terminal as COM1 and, while its erase takes its time, one on TCP, both
    // into one journal.
    const QString field = m_dir.filePath(QStringLiteral("overlap.log"));
    if (!QFile::exists(field)) {
        EmulatorProcess emu({/*pty*/ true, {"--reinsert-ms", "0"}});
        QVERIFY2(emu.start(), qPrintable(emu.errorText()));
        const QString slow = m_dir.filePath(QStringLiteral("slow.txt"));
        const QString quick = m_dir.filePath(QStringLiteral("quick.txt"));
        QVERIFY(writeFile(slow, "code 48 --timeout 5000\ncode 49\n") && writeFile(quick, "code 49\ncode 49\n"));
        QProcess serial;
        serial.start(sendProgram(), {"--com", "1=" + emu.ptyPath(), "--no-dsr", "--journal", field, "-f", slow});
        QTRY_VERIFY_WITH_TIMEOUT(journalLines(field).filter("com1 -- command code 48").size() == 1, 10000);
        run(sendProgram(), {"--tcp", tcpLink(emu), "--journal", field, "-f", quick});
        QVERIFY(serial.waitForFinished(30000));
    }
    const Finished whole = run(journalProgram(), {"script", field});
    QVERIFY(whole.exitCode != 0);
    QVERIFY2(whole.err.contains("session 1: com1") && whole.err.contains("session 2: tcp"), whole.err.constData());
    const Finished replayWhole = run(qEnvironmentVariable("KESTRA_EMU"), {"--replay", field, "--tcp", "127.0.0.1:0"});
    QCOMPARE(replayWhole.exitCode, 2);
    QVERIFY2(replayWhole.err.contains("session 2: tcp"), replayWhole.err.constData());

    const QString again = m_dir.filePath(QStringLiteral("overlap-again.log"));
    QByteArray errors;
    const QStringList choice = bySession ? QStringList{"--session", "2"} : QStringList{"--link", "tcp"};
    QCOMPARE(replayScript(field, {"tcp"}, false, false, again, &errors, choice), 0);
    QCOMPARE(bytesAndOutcomes(again), bytesAndOutcomes(field).filter(QRegularExpression(QStringLiteral("^tcp "))));
    QVERIFY2(errors.contains(" 2 commands matched, 0 diverged, 0 not replayed"), errors.constData());
}

void TestJournalRoundTrip::scriptReopenThatFails()
{
    // A device that answers once and is gone when the script reopens: the reopen fails, said
    // once, and the command after it is refused (not open).
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress::LocalHost));
    connect(&device, &QTcpServer::newConnection, this, [&device] {
        QTcpSocket *socket = device.nextPendingConnection();
        device.close();
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            if (socket->readAll().startsWith('\x02'))
                socket->write(QByteArray::fromHex("06020001200322")); // ACK, status 20
        });
    });
    const QString script = m_dir.filePath(QStringLiteral("reopen.txt"));
    QVERIFY(writeFile(script, "code 49 --timeout 3000\nreopen\ncode 49\n"));
    QProcess send;
    send.start(sendProgram(), {"--tcp", QStringLiteral("127.0.0.1:%1").arg(device.serverPort()), "--keep-going",
                               "--json", "-f", script});
    QTRY_VERIFY_WITH_TIMEOUT(send.state() == QProcess::NotRunning, 30000);
    QCOMPARE(send.exitCode(), 3);
    const QList<QByteArray> lines = send.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(QJsonDocument::fromJson(lines[0])["result"].toInt(), 0);
    const QJsonObject reopen = QJsonDocument::fromJson(lines[1]).object();
    QVERIFY2(reopen["reopen"].toBool() && !reopen["opened"].toBool() && reopen["open_result"].toInt() == 3, lines[1]);
    QCOMPARE(QJsonDocument::fromJson(lines[2])["send_result"].toInt(), 1);
    QCOMPARE(send.readAllStandardError().count("does not open"), 1);
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
    QCOMPARE(QString::fromUtf8(text.out).section(QLatin1Char('\n'), 0, 0), QStringLiteral("1, 0, 0,カ\\r"));

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
