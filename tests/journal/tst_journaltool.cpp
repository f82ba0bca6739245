// kestra-journal as a user runs it: what it writes with -o and what it leaves when it cannot, its
// exit statuses, and a journal read from standard input for a script (which reads it twice).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QByteArray kJournal = "2026-12-07T16:38:25.565Z tcp s4242.1 -- open 127.0.0.1 port 10001\n"
                            "2026-12-07T16:38:25.566Z tcp s4242.1 -- command code 49, time-out 5000 ms, DSR check on, parameter (none)\n"
                            "2026-12-07T16:38:25.566Z tcp s4242.1 out command 02 00 01 49 03 4b |...I.K|\n"
                            "2026-12-07T16:38:25.567Z tcp s4242.1 in ACK 06 |.|\n"
                            "2026-12-07T16:38:25.570Z tcp s4242.1 in response 02 00 01 20 03 22 |... .\"|\n"
                            "2026-12-07T16:38:25.570Z tcp s4242.1 out ACK 06 |.|\n"
                            "2026-12-07T16:38:25.570Z tcp s4242.1 -- end code 49, error 0 (a response was received), "
                            "status 20 (normal completion), result 0, 4 ms, data (none)\n"
                            "2026-12-07T16:38:25.571Z tcp s4242.1 -- close 127.0.0.1 port 10001\n";

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run journalTool(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    process.start(qEnvironmentVariable("KESTRA_JOURNAL"), args);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestJournalTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void outputs_data();
    void outputs();
    void scriptFromStandardInput();

private:
    QTemporaryDir m_dir;
};

void TestJournalTool::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_JOURNAL"))
        QSKIP("KESTRA_JOURNAL names the program (run through CTest)");
    QVERIFY(m_dir.isValid());
    QFile good(m_dir.filePath("good.log"));
    QVERIFY(good.open(QIODevice::WriteOnly));
    good.write(kJournal);
    QFile bad(m_dir.filePath("bad.log"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(kJournal + "not a journal line\n");
}

// DIR is the test's folder; DIR/keep holds "kept" before each run, with mode 0640.
void TestJournalTool::outputs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said");      // in standard error
    QTest::addColumn<bool>("keptAsItWas");     // "DIR/keep" still holds "kept"
    QTest::addColumn<int>("mode");             // of "DIR/keep" afterwards; -1: not looked at

    QTest::newRow("script of a bad journal leaves the file") << QStringList{"script", "DIR/bad.log", "-o", "DIR/keep"} << 1
                                                             << QByteArray("bad.log:9: not a journal line") << true << 0640;
    QTest::newRow("a good script replaces it, keeping its mode") << QStringList{"script", "DIR/good.log", "-o", "DIR/keep"} << 0
                                                                 << QByteArray() << false << 0640;
    QTest::newRow("a new script is its owner's alone") << QStringList{"script", "DIR/good.log", "-o", "DIR/new.txt"} << 0
                                                       << QByteArray() << true << -1;
    QTest::newRow("a capture on a full device, which stays") << QStringList{"pcapng", "DIR/good.log", "-o", "/dev/full"} << 1
                                                             << QByteArray("/dev/full: writing failed: No space left on device")
                                                             << true << -1;
    QTest::newRow("redact into a folder") << QStringList{"redact", "DIR/good.log", "-o", "DIR"} << 1
                                          << QByteArray("Is a directory") << true << -1;
    QTest::newRow("an empty journal") << QStringList{"script", "/dev/null", "-o", "DIR/keep"} << 1
                                      << QByteArray("/dev/null: no journal lines") << true << -1;
    QTest::newRow("a folder for a journal") << QStringList{"summary", "DIR"} << 1 << QByteArray("Is a directory") << true << -1;
    QTest::newRow("a journal that is not there") << QStringList{"summary", "DIR/missing.log"} << 1
                                                 << QByteArray("missing.log: No such file or directory") << true << -1;
    QTest::newRow("--json with script") << QStringList{"script", "DIR/good.log", "--json"} << 2
                                        << QByteArray("--json goes with summary only") << true << -1;
    QTest::newRow("session 0") << QStringList{"script", "DIR/good.log", "--session", "0"} << 2
                               << QByteArray("--session 0") << true << -1;
    QTest::newRow("a session that is not there") << QStringList{"script", "DIR/good.log", "--session", "2"} << 2
                                                 << QByteArray("there is no session 2") << true << -1;
}

void TestJournalTool::outputs()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    QFETCH(bool, keptAsItWas);
    QFETCH(int, mode);
    const QString keep = m_dir.filePath("keep");
    QFile::remove(keep);
    QFile::remove(m_dir.filePath("new.txt"));
    {
        QFile file(keep);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    QVERIFY(::chmod(QFile::encodeName(keep).constData(), 0640) == 0);
    for (QString &arg : args)
        arg.replace(QStringLiteral("DIR"), m_dir.path());
    const mode_t savedMask = ::umask(022);
    const Run run = journalTool(args);
    ::umask(savedMask);
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    QVERIFY2(run.err.contains(said), run.err.constData());
    QCOMPARE(contents(keep) == "kept", keptAsItWas);
    struct stat info {};
    if (mode >= 0) {
        QVERIFY(::stat(QFile::encodeName(keep).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), mode);
    }
    if (args.contains(m_dir.filePath("new.txt"))) {
        QVERIFY(::stat(QFile::encodeName(m_dir.filePath("new.txt")).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), 0600);
    }
    // Nothing half-written is left beside the target.
    QCOMPARE(QDir(m_dir.path()).entryList({".*.??????"}, QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
}

void TestJournalTool::scriptFromStandardInput()
{
    const Run run = journalTool({"script", "-"}, kJournal);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.out.contains("\ncode 49 --timeout 5000 --dsr\n"), run.out.constData());
    QVERIFY2(run.out.contains("-:2: recorded end"), run.out.constData());
}

QTEST_MAIN(TestJournalTool)
#include "tst_journaltool.moc"
