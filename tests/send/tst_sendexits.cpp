#include "TestHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

// kestra-send where a run must not end as if all were well: a magnetic write whose data did not
// reach the device, standard output that cannot be written, a port another program holds, a link
// that does not open.

namespace {

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};

QStringList tcpLink(const EmulatorProcess &emu)
{
    return {"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? withoutSessions(file.readAll()) : QByteArray();
}

// The command codes of the frames the emulator took in.
QList<char> codesReceived(const EmulatorProcess &emu)
{
    QList<char> codes;
    for (const QByteArray &body : emu.receivedCommands())
        codes << body.at(0);
    return codes;
}

} // namespace

class TestSendExits : public QObject
{
    Q_OBJECT
private slots:
    void staleWriteSkipped_data();
    void staleWriteSkipped();
    void outputThatCannotBeWritten_data();
    void outputThatCannotBeWritten();
    void portHeldByAnotherProgram_data();
    void portHeldByAnotherProgram();
    void deviceThatDoesNotOpen();
};

void TestSendExits::staleWriteSkipped_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("dataLine");
    QTest::newRow("data refused") << QStringList{"--fault", "nak", "--fault-count", "3"} << 3
                                  << QByteArray("write 1/3: code 39, no status");
    QTest::newRow("data timed out") << QStringList{"--fault", "silent", "--fault-count", "1"} << 1
                                    << QByteArray("write 1/3: code 39, no status, data \"\" [], result 1");
}

// The stripe keeps what it had (a blank stripe reads back as status 33), the card is ejected, and
// the data command's failure decides the exit status.
void TestSendExits::staleWriteSkipped()
{
    QFETCH(QStringList, fault);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, dataLine);
    EmulatorProcess emu({false, kFast + fault});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString journal = emu.directory() + "/journal.log";
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               tcpLink(emu) + QStringList{"--timeout", "300", "--journal", journal, "write", "%NEW?"});
    QVERIFY(send.waitForFinished(60000));
    const QByteArray out = send.readAllStandardOutput();
    QVERIFY2(send.exitCode() == exitCode, out);
    QVERIFY2(out.contains(dataLine), out);
    QVERIFY2(out.contains("write 2/3: code 31, skipped: write 1/3 ended with result"), out);
    QVERIFY2(out.contains("write 3/3: code 50, status 20"), out);
    QVERIFY(!codesReceived(emu).contains('1'));
    QVERIFY(codesReceived(emu).endsWith('P'));
    QVERIFY2(readAll(journal).contains(" tcp -- skipped code 31 (write 2/3): write 1/3 ended with result"), readAll(journal));
}

void TestSendExits::outputThatCannotBeWritten_data()
{
    QTest::addColumn<bool>("closedPipe");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("full disk (/dev/full)") << false << 3;
    QTest::newRow("reader gone") << true << 141;
}

// The run stops after the command whose line could not be written: one command reaches the device.
void TestSendExits::outputThatCannotBeWritten()
{
    QFETCH(bool, closedPipe);
    QFETCH(int, exitCode);
    EmulatorProcess emu({false, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    QProcess send;
    int gone[2] = {-1, -1}; // a pipe whose reader has closed its end
    if (closedPipe) {
        QVERIFY(::pipe(gone) == 0);
        ::close(gone[0]);
        send.setChildProcessModifier([&gone] { ::dup2(gone[1], STDOUT_FILENO); });
    } else {
        send.setStandardOutputFile(QStringLiteral("/dev/full"));
    }
    send.start(qEnvironmentVariable("KESTRA_SEND"), tcpLink(emu) + QStringList{"clear", "clear", "clear", "clear"});
    QVERIFY(send.waitForStarted(10000));
    if (closedPipe)
        ::close(gone[1]);
    QVERIFY(send.waitForFinished(60000));
    const QByteArray err = send.readAllStandardError();
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QVERIFY2(send.exitCode() == exitCode, err);
    QVERIFY2(err.count('\n') == 1 && err.contains("standard output cannot be written"), err);
    QCOMPARE(emu.receivedCommands().size(), 1);
    QVERIFY2(emu.waitForTrace("tcp#1 -- event closed", 20000), emu.trace());
}

void TestSendExits::portHeldByAnotherProgram_data()
{
    QTest::addColumn<bool>("sameName");
    QTest::newRow("its other name") << false;
    QTest::newRow("the same name") << true;
}

// The first program waits for an answer that never comes; the second, on the same pseudo-terminal,
// sends nothing and says who holds the port.
void TestSendExits::portHeldByAnotherProgram()
{
    QFETCH(bool, sameName);
    EmulatorProcess emu({true, kFast + QStringList{"--fault", "silent"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString target = QFileInfo(emu.ptyPath()).canonicalFilePath();
    QVERIFY(target.startsWith("/dev/pts/"));
    QProcess first;
    first.start(qEnvironmentVariable("KESTRA_SEND"),
                QStringList{"--device", target, "--no-dsr", "--timeout", "0", "read"});
    QVERIFY(first.waitForStarted(10000));
    QVERIFY(emu.waitForTrace(" in frame ", 20000));

    QProcess second;
    second.start(qEnvironmentVariable("KESTRA_SEND"),
                 QStringList{"--device", sameName ? target : emu.ptyPath(), "--no-dsr", "--timeout", "1000", "clear"});
    QVERIFY(second.waitForFinished(30000));
    const QByteArray err = second.readAllStandardError();
    QVERIFY2(second.exitCode() == 3, err);
    const QByteArray holder = "in use by another program, kestra-send (process " + QByteArray::number(first.processId()) + ")";
    QVERIFY2(err.contains(holder) && err.contains("OpenLink result 2") && err.contains("close it, or wait"), err);
    QCOMPARE(emu.receivedCommands().size(), 1);

    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitCode(), 143);
}

// A device named by its path is named so, with a hint that fits it, and --json says why too.
void TestSendExits::deviceThatDoesNotOpen()
{
    QTemporaryDir dir;
    const QString journal = dir.filePath("journal.log");
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               QStringList{"--device", "/nonexistent/kestra", "--json", "--journal", journal, "read"});
    QVERIFY(send.waitForFinished(30000));
    QCOMPARE(send.exitCode(), 3);
    const QByteArray err = send.readAllStandardError();
    QVERIFY2(err.contains("/nonexistent/kestra (9600 bit/s) does not open") && !err.contains("COM1") &&
                 !err.contains("--device"),
             err);
    QVERIFY2(readAll(journal).contains(" device -- open-failed /nonexistent/kestra (9600 bit/s)"), readAll(journal));
    const QList<QByteArray> out = send.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(out.size(), 1);
    const QJsonObject object = QJsonDocument::fromJson(out[0]).object();
    QCOMPARE(object.value("link").toString(), QStringLiteral("/nonexistent/kestra at 9600 bit/s"));
    QCOMPARE(object.value("open_result").toInt(), 1);
    QVERIFY2(!object.value("reason").toString().isEmpty(), out[0]);
}

QTEST_GUILESS_MAIN(TestSendExits)
#include "tst_sendexits.moc"
