// Every kind of journal line, made by the programs that write journals (the window's buttons,
// kestra-send, the control under them) and read back by every tool that reads one: summary,
// script, capture and replay. The rows come from the journal format's own list of kinds, so a
// kind added there without a writer that makes it, or a reader that takes it, fails here.

#include "JournalFormat.h"
#include "JournalReader.h"
#include "JournalSessions.h"
#include "Fonts.h"
#include "control/LinkJournal.h"
#include "control/Plenko.h"
#include "Rfc2217PeerProcess.h"
#include "Ser2netProcess.h"
#include "TestHelpers.h"
#include "frmMain.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTest>

#include <map>
#include <set>
#include <unistd.h>

namespace {

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished run(const QString &program, const QStringList &args, bool closedOutput = false)
{
    QProcess process;
    int gone[2] = {-1, -1}; // a pipe whose reader has closed its end
    if (closedOutput && ::pipe(gone) == 0) {
        ::close(gone[0]);
        process.setChildProcessModifier([&gone] { ::dup2(gone[1], STDOUT_FILENO); });
    }
    process.start(program, args);
    const bool started = process.waitForStarted(10000);
    if (gone[1] >= 0)
        ::close(gone[1]);
    if (!started)
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

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};
// What goes on the cards: nothing of it may leave a redacted journal.
const QByteArray kStripe = "%KINDS 7?";
const QByteArray kStripeTail = "KINDS";

QStringList tcpLink(const EmulatorProcess &emu)
{
    return {"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
}

struct Recorded
{
    std::vector<SessionInfo> sessions;
    std::map<Journal::Kind, std::set<int>> kinds; // kind -> the sessions that hold it
    qint64 lines = 0;
    QString error;
};

Recorded readBack(const QString &path)
{
    Recorded recorded;
    JournalReader reader(JournalReader::Mode::Strict);
    if (!reader.open(path, &recorded.error))
        return recorded;
    SessionTable table;
    JournalLine line;
    while (reader.next(&line)) {
        table.add(line, reader.lineNumber());
        recorded.kinds[line.kind].insert(line.sessionNumber);
        ++recorded.lines;
    }
    recorded.error = reader.error();
    recorded.sessions = table.sessions();
    return recorded;
}

} // namespace

class TestJournalKinds : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyKindIsWrittenAndRead_data();
    void everyKindIsWrittenAndRead();
    void redactedJournalKeepsNoCardData();

private:
    void recordWindow(const QString &journal);
    void recordLateAnswer();
    void recordRemotePort();
    void recordSend(const QStringList &emulatorArgs, bool pty, const QStringList &scriptLines, bool closedOutput = false);
    // Replays session n of journal: the script of it through kestra-send against kestra-emu
    // --replay; the emulator's exit status (0: every recorded command came and matched).
    int replaySession(const QString &journal, const SessionInfo &session, QByteArray *said);

    QTemporaryDir m_dir;
    QString m_journal;
    Recorded m_recorded;
    std::set<int> m_sessionsRead; // the sessions every reader took
    QString m_remoteMissing;      // why no session went through a device server
    QByteArray m_problems;
};

void TestJournalKinds::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU") || sendProgram().isEmpty() || journalProgram().isEmpty())
        QSKIP("KESTRA_EMU, KESTRA_SEND and KESTRA_JOURNAL name the programs (run through CTest)");
    installFontSubstitutions();
    QVERIFY(m_dir.isValid());
    m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("KEEP_JOURNAL_DIR"));
    m_journal = m_dir.filePath(QStringLiteral("field.log"));
    qInfo("journal: %s", qPrintable(m_journal));

    // Sessions one after the other, appended to one journal, each provoking some kinds.
    recordWindow(m_journal); // skipped (both buttons), NAK in, resend
    recordSend({"--fault", "bad-bcc-once"}, false, {"write '" + QString::fromLatin1(kStripe) + "'", "read"}); // bad-frame, NAK out
    recordSend({"--fault", "garbage"}, false, {"clear"});                                                // stray
    recordLateAnswer(); // late-frame
    recordSend({"--fault", "close-mid"}, false, {"read", "read"});                                       // lost, refused
    // On a slow line a time-out in mid answer: the next frame settles and the rest is dropped.
    recordSend({"--wire-speed", "2400"}, true,
               {"write '%" + QString(60, QLatin1Char('L')) + "?'", "code 22 --timeout 40", "code 22 --timeout 3000"});
    {
        QTcpServer closed; // a port nobody listens on: taken, then let go
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        run(sendProgram(), {"--tcp", QStringLiteral("127.0.0.1:%1").arg(port), "--journal", m_journal, "clear"});
    }
    recordSend({}, false, {"clear", "clear"}, true); // stopped: standard output gone
    recordRemotePort(); // server (ser2net's signature), modem (DSR as a server reports it)

    m_recorded = readBack(m_journal);
    QVERIFY2(m_recorded.error.isEmpty(), qPrintable(m_recorded.error));

    // Every reader over the whole journal, and script and replay per session.
    const Finished summary = run(journalProgram(), {"summary", "--json", m_journal});
    QCOMPARE(summary.exitCode, 0);
    const QJsonObject counts = QJsonDocument::fromJson(summary.out).object();
    QCOMPARE(counts.value(QStringLiteral("skipped_lines")).toInt(-1), 0);
    QCOMPARE(run(journalProgram(), {"pcapng", m_journal, "-o", m_dir.filePath(QStringLiteral("field.pcapng"))}).exitCode, 0);
    for (const SessionInfo &session : m_recorded.sessions) {
        const Finished script = run(journalProgram(), {"script", m_journal, "--session", QString::number(session.number)});
        if (script.exitCode != 0) {
            m_problems += "script of session " + QByteArray::number(session.number) + ": " + script.err;
            continue;
        }
        if (session.commands > 0) {
            QByteArray said;
            if (replaySession(m_journal, session, &said) != 0) {
                m_problems += "replay of session " + QByteArray::number(session.number) + ": " + said;
                continue;
            }
        }
        m_sessionsRead.insert(session.number);
    }
}

void TestJournalKinds::recordWindow(const QString &journalPath)
{
    EmulatorProcess::Options options;
    options.pty = true;
    options.extraArgs = kFast + QStringList{"--fault", "nak"};
    EmulatorProcess emu(options);
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    qputenv("PLENKO_COM1", QFile::encodeName(emu.ptyPath()));
    LinkJournal journal;
    QVERIFY(journal.open(journalPath, nullptr));
    auto plenko = std::make_unique<Plenko>();
    Plenko *control = plenko.get();
    control->setJournal(&journal);
    frmMain window(std::move(plenko));
    window.setJournal(&journal);
    window.setMessageSink([](const QString &) {});
    window.setBeep([] {});
    window.setEndProgram([](int) {});
    window.show();
    qint32 port = 1;
    qint32 speed = 2;
    QCOMPARE(variantToInt32(control->OpenLink(port, speed, 1, 1)), 0);
    QCOMPARE(variantToInt32(control->StartLink(0)), 0);
    window.findChild<QRadioButton *>("opt_NoDSR")->setChecked(true); // a pseudo-terminal has no DSR
    window.findChild<QLineEdit *>("txt_UserParameter")->setText(QString::fromLatin1(kStripe));
    window.findChild<QLineEdit *>("txt_UserTimeout")->setText("3000");
    for (const char *button : {"cmdMagwrite", "cmdRewrite"}) {
        window.findChild<QPushButton *>(button)->click();
        QTRY_VERIFY_WITH_TIMEOUT(variantToInt32(control->CommStatus()) == LinkStatus::Idle, 20000);
    }
    control->StopLink();
    control->CloseLink();
    qunsetenv("PLENKO_COM1");
}

// The control alone: a command that times out, and its answer coming whole while the link is idle.
void TestJournalKinds::recordLateAnswer()
{
    EmulatorProcess emu({true, kFast + QStringList{"--fault", "late:300", "--fault-count", "1"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    qputenv("PLENKO_COM2", QFile::encodeName(emu.ptyPath()));
    LinkJournal journal;
    QVERIFY(journal.open(m_journal, nullptr));
    Plenko control;
    control.setJournal(&journal);
    qint32 port = 2;
    qint32 speed = 2;
    QCOMPARE(variantToInt32(control.OpenLink(port, speed, 1, 1)), 0);
    QCOMPARE(variantToInt32(control.StartLink(0)), 0);
    for (qint32 timeout : {100, 3000}) {
        qint32 code = 0x49;
        QByteArray parameter;
        bool dsr = false;
        QCOMPARE(variantToInt32(control.SendCommand(code, parameter, timeout, dsr)), 0);
        QTRY_VERIFY_WITH_TIMEOUT(variantToInt32(control.CommStatus()) == LinkStatus::Idle, 10000);
        QTest::qWait(500);
    }
    control.StopLink();
    control.CloseLink();
    qunsetenv("PLENKO_COM2");
}

// A device behind ser2net, and a server whose DSR goes off and on (no command: nothing to answer).
void TestJournalKinds::recordRemotePort()
{
    if (!Ser2netProcess::available() || !Rfc2217PeerProcess::available()) {
        m_remoteMissing = Ser2netProcess::available() ? Rfc2217PeerProcess::skipReason() : Ser2netProcess::skipReason();
        return;
    }
    {
        EmulatorProcess emu({true, kFast});
        QVERIFY2(emu.start(), qPrintable(emu.errorText()));
        Ser2netProcess server({emu.ptyPath()});
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        const Finished sent = run(sendProgram(), {"--device", QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()),
                                                  "--journal", m_journal, "write", QString::fromLatin1(kStripe), "read"});
        QVERIFY2(sent.exitCode == 0, sent.out + sent.err);
    }
    Rfc2217PeerProcess peer;
    QVERIFY2(peer.start(), qPrintable(peer.errorText()));
    qputenv("PLENKO_COM5", QStringLiteral("rfc2217://127.0.0.1:%1").arg(peer.port()).toUtf8());
    LinkJournal journal;
    QVERIFY(journal.open(m_journal, nullptr));
    Plenko control;
    control.setJournal(&journal);
    qint32 port = 5;
    qint32 speed = 2;
    QCOMPARE(variantToInt32(control.OpenLink(port, speed, 1, 1)), 0);
    QVERIFY(peer.waitForEvent(QStringLiteral("connected")));
    peer.setDsr(false);
    QTest::qWait(300);
    control.CloseLink();
    qunsetenv("PLENKO_COM5");
}

void TestJournalKinds::recordSend(const QStringList &emulatorArgs, bool pty, const QStringList &commands,
                                  bool closedOutput)
{
    EmulatorProcess::Options options;
    options.pty = pty;
    options.extraArgs = kFast + emulatorArgs;
    EmulatorProcess emu(options);
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString script = m_dir.filePath(QStringLiteral("record.txt"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(commands.join(QLatin1Char('\n')).toUtf8() + '\n');
    file.close();
    const QStringList link = pty ? QStringList{"--device", emu.ptyPath(), "--no-dsr"} : tcpLink(emu);
    run(sendProgram(), link + QStringList{"--keep-going", "--journal", m_journal, "-f", script}, closedOutput);
}

int TestJournalKinds::replaySession(const QString &journal, const SessionInfo &session, QByteArray *said)
{
    const QString number = QString::number(session.number);
    const Finished script = run(journalProgram(), {"script", journal, "--session", number});
    const QString scriptPath = m_dir.filePath(QStringLiteral("replay-%1.txt").arg(number));
    QFile file(scriptPath);
    if (script.exitCode != 0 || !file.open(QIODevice::WriteOnly))
        return -2;
    file.write(script.out);
    file.close();
    const bool pty = session.link != Journal::kTcpLink;
    EmulatorProcess::Options options;
    options.pty = pty;
    options.extraArgs = {"--replay", journal, "--session", number};
    EmulatorProcess emu(options);
    if (!emu.start()) {
        *said = emu.errorText().toUtf8();
        return -2;
    }
    const QStringList link = pty ? QStringList{"--device", emu.ptyPath(), "--no-dsr"} : tcpLink(emu);
    run(sendProgram(), link + QStringList{"--keep-going", "-f", scriptPath});
    QProcess *process = emu.process();
    // The replay ends by itself at the end of the recording.
    const bool ended = process->waitForFinished(20000);
    *said = emu.standardError();
    const int status = ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    emu.stop();
    return status;
}

void TestJournalKinds::everyKindIsWrittenAndRead_data()
{
    QTest::addColumn<int>("kind");
    for (const Journal::KindInfo &kind : Journal::kKinds) {
        const QByteArray name = QByteArray(kind.word) + (kind.isBytes() ? (kind.out && !kind.in ? " (out)" : " (bytes)") : " (event)");
        QTest::newRow(name.constData()) << int(kind.kind);
    }
}

void TestJournalKinds::everyKindIsWrittenAndRead()
{
    QFETCH(int, kind);
    if ((Journal::Kind(kind) == Journal::Kind::Server || Journal::Kind(kind) == Journal::Kind::Modem)
        && !m_remoteMissing.isEmpty())
        QSKIP(qPrintable(m_remoteMissing));
    const auto found = m_recorded.kinds.find(Journal::Kind(kind));
    QVERIFY2(found != m_recorded.kinds.end(), "no writer made a line of this kind");
    bool read = false;
    for (int session : found->second)
        read = read || m_sessionsRead.count(session) > 0;
    QVERIFY2(read, m_problems.constData());
}

void TestJournalKinds::redactedJournalKeepsNoCardData()
{
    const QString redacted = m_dir.filePath(QStringLiteral("redacted.log"));
    QCOMPARE(run(journalProgram(), {"redact", m_journal, "-o", redacted}).exitCode, 0);
    const Recorded again = readBack(redacted);
    QVERIFY2(again.error.isEmpty(), qPrintable(again.error));
    QCOMPARE(again.lines, m_recorded.lines);
    const QString capture = m_dir.filePath(QStringLiteral("redacted.pcapng"));
    QCOMPARE(run(journalProgram(), {"pcapng", redacted, "-o", capture}).exitCode, 0);

    QFile file(redacted);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray everything = file.readAll();
    QFile pcapng(capture);
    QVERIFY(pcapng.open(QIODevice::ReadOnly));
    everything += pcapng.readAll();
    for (const SessionInfo &session : again.sessions) {
        const Finished script = run(journalProgram(), {"script", redacted, "--session", QString::number(session.number)});
        QCOMPARE(script.exitCode, 0);
        everything += script.out;
        if (session.commands > 0 && session.link == Journal::kTcpLink) {
            QByteArray said;
            QVERIFY2(replaySession(redacted, session, &said) == 0, said.constData());
        }
    }
    const QByteArray printed = "Rewritable Card";
    for (const QByteArray &secret : {kStripeTail, kStripeTail.toHex(' '), QByteArray("LLLLL"), QByteArray("4c 4c 4c"),
                                     printed, printed.toHex(' ')})
        QVERIFY2(!everything.contains(secret), secret.constData());
}

QTEST_MAIN(TestJournalKinds)
#include "tst_journalkinds.moc"
