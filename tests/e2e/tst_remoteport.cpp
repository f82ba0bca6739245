// A serial port on another machine: kestra-send and the window through a real ser2net in front of
// the emulator's pseudo-terminal, and DSR from an RFC 2217 server that reports it (pyserial's own
// server side, not our codec).

#include "Fonts.h"
#include "Rfc2217PeerProcess.h"
#include "Ser2netProcess.h"
#include "TestHelpers.h"
#include "control/LinkJournal.h"
#include "control/Plenko.h"
#include "frmMain.h"

#include <QAction>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>


namespace {

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished run(const QStringList &args, int timeoutMs = 60000)
{
    QProcess process;
    process.start(qEnvironmentVariable("KESTRA_SEND"), args);
    if (!process.waitForStarted(10000))
        return {};
    process.closeWriteChannel();
    process.waitForFinished(timeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

const QStringList kFast{"--time-scale", "0", "--reinsert-ms", "0"};
// Every card operation, and a parameter of 0xFF bytes, which Telnet must carry doubled.
const QStringList kOperations{"reset", "clear", "write '%ABC 123?'", "read", "erase", "sample", "eject",
                              "code 39 --bin '$FF$FFA$FF' --no-dsr --timeout 3000"};

QString url(const Ser2netProcess &server)
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port());
}

} // namespace

class TestRemotePort : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void operationsAsOnALocalPort();
    void speedsSetOnTheRemotePort_data();
    void speedsSetOnTheRemotePort();
    void windowSpeedMenuSetsTheRemotePort();
    void serverStoppedInMidCommand();
    void serverWithoutPortControl_data();
    void serverWithoutPortControl();
    void dsrAsTheServerReportsIt();

private:
    QString writeScript(const QStringList &lines);
    QTemporaryDir m_dir;
};

void TestRemotePort::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU") || qEnvironmentVariableIsEmpty("KESTRA_SEND"))
        QSKIP("KESTRA_EMU and KESTRA_SEND name the programs (run through CTest)");
    if (!Ser2netProcess::available())
        QSKIP("ser2net is not installed (scripts/deps.sh --test installs it)");
    installFontSubstitutions();
    QVERIFY(m_dir.isValid());
}

QString TestRemotePort::writeScript(const QStringList &lines)
{
    static int n = 0;
    const QString path = m_dir.filePath(QStringLiteral("script-%1.txt").arg(++n));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    return path;
}

// The emulator sees through ser2net byte for byte what it sees on its own pseudo-terminal.
void TestRemotePort::operationsAsOnALocalPort()
{
    const QString script = writeScript(kOperations);
    QList<QByteArray> direct;
    {
        EmulatorProcess emu({true, kFast});
        QVERIFY2(emu.start(), qPrintable(emu.errorText()));
        const Finished local = run({"--device", emu.ptyPath(), "--no-dsr", "--keep-going", "-f", script});
        QCOMPARE(local.exitCode, 0);
        direct = emu.receivedCommands();
    }
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    Ser2netProcess server({emu.ptyPath()});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QString journal = m_dir.filePath(QStringLiteral("remote.log"));
    // The DSR check stays on: ser2net reports no modem lines for a pseudo-terminal, which is
    // not a DSR that is off.
    const Finished remote = run({"--device", url(server), "--keep-going", "--journal", journal, "-f", script});
    QVERIFY2(remote.exitCode == 0, remote.out + remote.err);
    QCOMPARE(emu.receivedCommands(), direct);
    QVERIFY(direct.last().contains("\xff\xff" "A\xff"));

    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray lines = file.readAll();
    QVERIFY2(lines.contains("-- open " + url(server).toLatin1() + " (9600 bit/s), the server set 9600 bit/s 8N1"), lines);
    QVERIFY2(lines.contains("-- server \"ser2net"), lines);
    QVERIFY(!lines.contains("ff ff ff ff")); // the journal holds the device's bytes, never Telnet's
}

void TestRemotePort::speedsSetOnTheRemotePort_data()
{
    QTest::addColumn<QString>("speed");
    for (const char *speed : {"2400", "4800", "19200", "38400", "9600"})
        QTest::newRow(speed) << QString::fromLatin1(speed);
}

void TestRemotePort::speedsSetOnTheRemotePort()
{
    QFETCH(QString, speed);
    // A device that does not answer keeps the link open while the speed is read: ser2net puts
    // the line back as it found it when its client goes.
    EmulatorProcess emu({true, kFast + QStringList{"--fault", "silent"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    Ser2netProcess server({emu.ptyPath()});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               {"--com", "3=" + url(server), "--speed", speed, "--code", "49", "--no-dsr", "--timeout", "3000"});
    QVERIFY(emu.waitForTrace("frame", 10000));
    QCOMPARE(terminalBitsPerSecond(emu.ptyPath()), speed.toInt());
    QVERIFY(send.waitForFinished(10000));
}

// The window on COM1 mapped to the URL: each speed of the Baud Rate menu opens the remote port
// again at that speed, and a button press goes through.
void TestRemotePort::windowSpeedMenuSetsTheRemotePort()
{
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    Ser2netProcess server({emu.ptyPath()});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    qputenv("PLENKO_COM1", url(server).toUtf8());
    auto plenko = std::make_unique<Plenko>();
    Plenko *control = plenko.get();
    frmMain window(std::move(plenko));
    window.setMessageSink([](const QString &) {});
    window.setBeep([] {});
    window.setEndProgram([](int) {});
    window.show();
    window.findChild<QAction *>("mnu_Com1")->trigger();
    for (const auto &[menu, bps] : {std::pair{"mnu_38400bps", 38400}, {"mnu_2400bps", 2400}, {"mnu_19200bps", 19200}}) {
        window.findChild<QAction *>(menu)->trigger();
        QCOMPARE(variantToInt32(control->CommStatus()) >= 0, true);
        QCOMPARE(terminalBitsPerSecond(emu.ptyPath()), bps);
    }
    const int before = int(emu.receivedCommands().size());
    QPushButton *reset = window.findChild<QPushButton *>("cmd_Reset");
    QVERIFY(reset);
    reset->click();
    QTRY_COMPARE_WITH_TIMEOUT(int(emu.receivedCommands().size()), before + 1, 10000);
    control->StopLink();
    control->CloseLink();
    qunsetenv("PLENKO_COM1");
}

// ser2net gone while the device works on a command: that command is lost, the next one refused,
// and the journal says the server closed the connection.
void TestRemotePort::serverStoppedInMidCommand()
{
    EmulatorProcess emu({true, {"--time-scale", "1", "--reinsert-ms", "0"}}); // an erase takes its time
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    Ser2netProcess server({emu.ptyPath()});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QString journal = m_dir.filePath(QStringLiteral("stopped.log"));
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               {"--device", url(server), "--keep-going", "--journal", journal, "erase", "clear"});
    QVERIFY(emu.waitForTrace("frame", 10000));
    server.kill();
    QVERIFY(send.waitForFinished(20000));
    const QByteArray out = send.readAllStandardOutput();
    QCOMPARE(send.exitCode(), 3);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("erase:") && lines[0].contains("result -1"), out);
    QVERIFY2(lines[1].startsWith("clear:") && lines[1].contains("not open"), out);
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("lost rfc2217://127.0.0.1:" + QByteArray::number(server.port())
                                    + " (9600 bit/s): the server closed the connection"));
    QCOMPARE(emu.receivedCommands().size(), 1);
}

void TestRemotePort::serverWithoutPortControl_data()
{
    QTest::addColumn<int>("accepter");
    QTest::newRow("telnet without rfc2217") << int(Ser2netProcess::Accepter::Telnet);
    QTest::newRow("raw TCP") << int(Ser2netProcess::Accepter::Raw);
}

void TestRemotePort::serverWithoutPortControl()
{
    QFETCH(int, accepter);
    EmulatorProcess emu({true, kFast});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    Ser2netProcess::Options options;
    options.devicePath = emu.ptyPath();
    options.accepter = Ser2netProcess::Accepter(accepter);
    Ser2netProcess server(options);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const Finished sent = run({"--device", url(server), "clear"});
    QCOMPARE(sent.exitCode, 3);
    const QByteArray said = "127.0.0.1 port " + QByteArray::number(server.port())
                            + " (RFC 2217) does not open: the server does not offer RFC 2217 port control";
    QVERIFY2(sent.err.contains(said), sent.err);
    QVERIFY2(sent.err.contains("telnet(rfc2217)"), sent.err);
    QCOMPARE(sent.err.count("brindle.link:"), 1); // said once
    QVERIFY(emu.receivedCommands().isEmpty());
}

// DSR as the server reports it: on at the open, off, on again. A command with the DSR check
// fails at once while it is off and goes out when it is back; the journal tells each change.
void TestRemotePort::dsrAsTheServerReportsIt()
{
    if (!Rfc2217PeerProcess::available())
        QSKIP(qPrintable(Rfc2217PeerProcess::skipReason()));
    Rfc2217PeerProcess peer;
    QVERIFY2(peer.start(), qPrintable(peer.errorText()));
    qputenv("PLENKO_COM4", QStringLiteral("rfc2217://127.0.0.1:%1").arg(peer.port()).toUtf8());
    const QString path = m_dir.filePath(QStringLiteral("dsr.log"));
    LinkJournal journal;
    QVERIFY(journal.open(path, nullptr));
    Plenko control;
    control.setJournal(&journal);
    qint32 port = 4;
    qint32 speed = 2;
    QCOMPARE(variantToInt32(control.OpenLink(port, speed, 1, 1)), 0);
    QCOMPARE(variantToInt32(control.StartLink(0)), 0);
    const auto send = [&control]() -> qint32 {
        qint32 code = 0x49;
        QByteArray parameter;
        qint32 timeout = 300;
        bool dsr = true;
        control.SendCommand(code, parameter, timeout, dsr);
        if (!QTest::qWaitFor([&control] { return variantToInt32(control.CommStatus()) == LinkStatus::Idle; }, 5000))
            return -1;
        return variantToInt32(control.ErrorCode());
    };
    const auto told = [&path, &journal](const QByteArray &line, int times) {
        journal.flush(); // written when the event loop blocks, which QTRY's waits never do
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.readAll().count("-- modem " + line) == times;
    };
    QTRY_VERIFY(told("DSR on", 1));
    QVERIFY(send() != LinkError::DsrInactive);
    peer.setDsr(false);
    QTRY_VERIFY(told("DSR off", 1));
    QCOMPARE(send(), LinkError::DsrInactive);
    peer.setDsr(true);
    QTRY_VERIFY(told("DSR on", 2));
    QVERIFY(send() != LinkError::DsrInactive);
    control.StopLink();
    control.CloseLink();
    qunsetenv("PLENKO_COM4");
}

QTEST_MAIN(TestRemotePort)
#include "tst_remoteport.moc"
