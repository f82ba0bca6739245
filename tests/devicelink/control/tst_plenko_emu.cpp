#include "transport/ModemLines.h"
#include "control/Plenko.h"
#include "ScriptedPeer.h"
#include "TestHelpers.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <time.h>

// The control against the device emulator, over loopback TCP and over a pseudo-terminal.

using Line = ScriptedPeer::Line;
Q_DECLARE_METATYPE(ScriptedPeer::Line)

namespace {

struct Step
{
    qint32 code;
    QByteArray parameter;
};

qint32 status(Plenko &control)
{
    return control.CommStatus().toInt();
}

bool waitForEnd(Plenko &control, int ms = 10000)
{
    return waitUntil([&] { return status(control) != LinkStatus::Busy; }, ms);
}

qint32 openTo(Plenko &control, const EmulatorProcess &emulator, Line line)
{
    qint32 result = -99;
    if (line == Line::Tcp) {
        qputenv("PLENKO_TCP_PORT", QByteArray::number(emulator.tcpPort()));
        qint32 address = qint32(0x7F000001);
        qint32 speed = -1;
        result = control.OpenLink(address, speed, -1, -1).toInt();
    } else {
        qputenv("PLENKO_COM1", emulator.ptyPath().toLocal8Bit());
        qint32 port = 1;
        qint32 speed = 5;
        result = control.OpenLink(port, speed, 1, 1).toInt();
    }
    control.StartLink(0);
    return result;
}

// Runs one command to its end; false when it was refused or did not end in time.
bool run(Plenko &control, qint32 code, QByteArray parameter = {}, qint32 timeoutMs = 5000, bool dsr = false)
{
    if (control.SendCommand(code, parameter, timeoutMs, dsr).toInt() != 0)
        return false;
    return waitForEnd(control);
}

QStringList quick(QStringList more = {})
{
    return QStringList{"--time-scale", "0", "--reinsert-ms", "0"} + more;
}

void addLineRows(const char *name, const std::function<void(QTestData &)> &fill)
{
    for (Line line : {Line::Tcp, Line::Pty}) {
        QTestData &row = QTest::addRow("%s %s", line == Line::Tcp ? "tcp" : "pty", name) << line;
        fill(row);
    }
}

class InactiveDsr : public ModemLines
{
public:
    std::optional<bool> dsrActive() override { return false; }
};

} // namespace

class TestPlenkoEmulator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void faults_data();
    void faults();
    void lateAnswerAfterTimeOut_data();
    void lateAnswerAfterTimeOut();
    void endedByCaller_data();
    void endedByCaller();
    void refusedCommandsSendNothing_data();
    void refusedCommandsSendNothing();
    void dsrInactiveSendsNothing();
    void deviceVanishes_data();
    void deviceVanishes();
};

void TestPlenkoEmulator::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU"))
        QSKIP("KESTRA_EMU is not set (run through ctest)");
}

void TestPlenkoEmulator::commands_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<int>("responseCode"); // of the last step
    QTest::addColumn<QByteArray>("data");
    const QByteArray japanese("\x83\x4a\x81\x5b\x83\x68 OK"); // CP932 bytes pass through untouched
    const QList<std::tuple<const char *, QList<Step>, int, QByteArray>> rows = {
        {"magnetic read of a blank stripe", {{DeviceCommand::MagneticRead, {}}}, DeviceStatus::ReadError, {}},
        {"write then read",
         {{DeviceCommand::MagneticData, "%ABC123?"}, {DeviceCommand::MagneticWrite, "2"}, {DeviceCommand::MagneticRead, {}}},
         DeviceStatus::Normal, "%ABC123?"},
        {"cp932 data round trip",
         {{DeviceCommand::MagneticData, japanese}, {DeviceCommand::MagneticWrite, "2"}, {DeviceCommand::MagneticRead, {}}},
         DeviceStatus::Normal, japanese},
        {"write without data", {{DeviceCommand::BufferClear, {}}, {DeviceCommand::MagneticWrite, "2"}},
         DeviceStatus::BufferEmpty, {}},
        {"buffer clear", {{DeviceCommand::BufferClear, {}}}, DeviceStatus::Normal, {}},
        {"reset", {{DeviceCommand::Reset, {}}}, DeviceStatus::Normal, {}},
        {"erase", {{DeviceCommand::Erase, "1"}}, DeviceStatus::Normal, {}},
        {"eject", {{DeviceCommand::Eject, "1"}}, DeviceStatus::Normal, {}},
        {"print then rewrite", {{DeviceCommand::PrintData, "1, 0, 0,Hello"}, {DeviceCommand::Rewrite, "1"}},
         DeviceStatus::Normal, {}},
        {"unknown command", {{0x7E, {}}}, DeviceStatus::UnknownCommand, {}},
    };
    for (const auto &[name, steps, code, data] : rows)
        addLineRows(name, [&steps = steps, &code = code, &data = data](QTestData &row) { row << steps << code << data; });
}

void TestPlenkoEmulator::commands()
{
    QFETCH(Line, line);
    QFETCH(QList<Step>, steps);
    QFETCH(int, responseCode);
    QFETCH(QByteArray, data);
    EmulatorProcess emulator({line == Line::Pty, quick()});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    for (const Step &step : steps) {
        QVERIFY(run(control, step.code, step.parameter));
        QCOMPARE(control.ErrorCode().toInt(), 0);
    }
    QCOMPARE(control.ResponseCode().toInt(), responseCode);
    QCOMPARE(control.ResponseData().toByteArray(), data);
    QList<QByteArray> sent;
    for (const Step &step : steps)
        sent.append(QByteArray(1, char(step.code)) + step.parameter);
    QCOMPARE(emulator.receivedCommands(), sent);
}

void TestPlenkoEmulator::faults_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("responseCode");
    QTest::addColumn<bool>("linkSurvives");
    const QList<std::tuple<const char *, int, int, int, bool>> rows = {
        {"silent", 300, LinkError::TimedOut, 0, true},
        {"partial", 300, LinkError::TimedOut, 0, true},
        {"short-len", 300, LinkError::TimedOut, 0, true},
        {"garbage", 5000, 0, 0x20, true},
        {"bad-bcc-once", 5000, 0, 0x20, true},
        {"bad-bcc", 5000, LinkError::BadResponse, 0, true},
        {"nak", 5000, LinkError::Refused, 0, true},
        {"close-mid", 5000, LinkError::LinkLost, 0, false},
    };
    for (const auto &[fault, timeout, error, response, survives] : rows)
        addLineRows(fault, [&fault = fault, &timeout = timeout, &error = error, &response = response, &survives = survives](QTestData &row) { row << QString(fault) << timeout << error << response << survives; });
}

void TestPlenkoEmulator::faults()
{
    QFETCH(Line, line);
    QFETCH(QString, fault);
    QFETCH(int, timeoutMs);
    QFETCH(int, errorCode);
    QFETCH(int, responseCode);
    QFETCH(bool, linkSurvives);
    // The fault hits the first command only (its three sends, for the NAK fault); the device
    // behaves afterwards.
    const QString frames = fault == "nak" ? "3" : "1";
    EmulatorProcess emulator({line == Line::Pty, quick({"--fault", fault, "--fault-count", frames})});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    QVERIFY(run(control, 73, "x", timeoutMs));
    QCOMPARE(control.ErrorCode().toInt(), errorCode);
    QCOMPARE(control.ResponseCode().toInt(), responseCode);

    if (!linkSurvives) {
        QCOMPARE(status(control), LinkStatus::NoLink);
        control.StopLink();
        control.CloseLink();
        QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    }
    QVERIFY(run(control, 57, "NEXT"));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseCode().toInt(), 0x20);
}

void TestPlenkoEmulator::lateAnswerAfterTimeOut_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<bool>("waitForLateAnswer");
    addLineRows("next command at once", [](QTestData &row) { row << false; });
    addLineRows("late answer arrives first", [](QTestData &row) { row << true; });
}

void TestPlenkoEmulator::lateAnswerAfterTimeOut()
{
    QFETCH(Line, line);
    QFETCH(bool, waitForLateAnswer);
    EmulatorProcess emulator({line == Line::Pty, quick({"--fault", "late:500", "--fault-count", "1"})});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    // A read of the blank stripe (status 0x33), answered after 500 ms: too late.
    QVERIFY(run(control, 34, {}, 200));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::TimedOut);
    if (waitForLateAnswer) {
        QVERIFY(waitUntil([&] { return emulator.trace().contains(" out frame "); }, 5000));
        QVERIFY(emulator.waitForTrace(" in ACK")); // acknowledged, and dropped
        QCOMPARE(status(control), LinkStatus::Idle);
    }
    // The read's answer, late or abandoned, is never taken for the next command's.
    QVERIFY(run(control, 73, "next"));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseCode().toInt(), 0x20);
}

void TestPlenkoEmulator::endedByCaller_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<bool>("stopLink"); // else AbortCommand
    addLineRows("AbortCommand", [](QTestData &row) { row << false; });
    addLineRows("StopLink", [](QTestData &row) { row << true; });
}

void TestPlenkoEmulator::endedByCaller()
{
    QFETCH(Line, line);
    QFETCH(bool, stopLink);
    // At the device's own pace a rewrite takes about a second: long enough to give up on it.
    EmulatorProcess emulator({line == Line::Pty, {"--reinsert-ms", "0"}});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    qint32 code = 70;
    QByteArray parameter("1");
    qint32 timeout = 0;
    bool dsr = false;
    QCOMPARE(control.SendCommand(code, parameter, timeout, dsr).toInt(), 0);
    QVERIFY(emulator.waitForTrace(" in frame "));
    if (stopLink) {
        control.StopLink();
        QCOMPARE(status(control), LinkStatus::Open);
        control.StartLink(0);
    } else {
        control.AbortCommand();
    }
    QCOMPARE(status(control), LinkStatus::Idle);
    QCOMPARE(control.ErrorCode().toInt(), LinkError::Aborted);
    QVERIFY(run(control, 73));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseCode().toInt(), 0x20);
}

void TestPlenkoEmulator::refusedCommandsSendNothing_data()
{
    QTest::addColumn<Line>("line");
    addLineRows("", [](QTestData &) {});
}

void TestPlenkoEmulator::refusedCommandsSendNothing()
{
    QFETCH(Line, line);
    EmulatorProcess emulator({line == Line::Pty, quick()});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    QVERIFY(!run(control, 256));
    QVERIFY(!run(control, -1));
    QVERIFY(!run(control, 57, QByteArray(65535, 'x')));
    QCOMPARE(status(control), LinkStatus::Idle);
    QVERIFY(run(control, 73, "last"));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(emulator.receivedCommands(), QList<QByteArray>{"\x49last"});
}

void TestPlenkoEmulator::dsrInactiveSendsNothing()
{
    EmulatorProcess emulator({true, quick()});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, Line::Pty), qint32(Plenko::Opened));
    QVERIFY(run(control, 73, "own lines", 5000, true)); // a pseudo-terminal counts as DSR active
    QCOMPARE(control.ErrorCode().toInt(), 0);
    InactiveDsr inactive;
    control.setModemLinesForTesting(&inactive);
    QVERIFY(run(control, 73, "inactive", 5000, true));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::DsrInactive);
    QVERIFY(run(control, 73, "unchecked", 5000, false));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(emulator.receivedCommands(), (QList<QByteArray>{"\x49own lines", "\x49unchecked"}));
}

void TestPlenkoEmulator::deviceVanishes_data()
{
    QTest::addColumn<Line>("line");
    addLineRows("under a running command", [](QTestData &) {});
}

void TestPlenkoEmulator::deviceVanishes()
{
    QFETCH(Line, line);
    EmulatorProcess emulator({line == Line::Pty, quick({"--fault", "silent"})});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    Plenko control;
    QCOMPARE(openTo(control, emulator, line), qint32(Plenko::Opened));
    qint32 code = 34;
    QByteArray parameter;
    qint32 timeout = 0;
    bool dsr = false;
    QCOMPARE(control.SendCommand(code, parameter, timeout, dsr).toInt(), 0);
    QVERIFY(emulator.waitForTrace(" in frame "));
    emulator.stop();
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::LinkLost);
    QCOMPARE(status(control), LinkStatus::NoLink);

    timespec before{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    waitUntil([] { return false; }, 500); // events run, blocking between them
    timespec after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double used = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
    QVERIFY2(used < 0.2, qPrintable(QString::number(used)));
}

QTEST_GUILESS_MAIN(TestPlenkoEmulator)
#include "tst_plenko_emu.moc"
