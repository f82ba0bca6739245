// The connection settings and the address dialog with the real card control against the
// device emulator: over a pseudo-terminal standing in for COM1, and over loopback TCP.
// Every network address used here is 127.0.0.1.

#include "AddressDialogLauncher.h"
#include "AddressState.h"
#include "window/CardCalls.h"
#include "window/ConnectionSettings.h"
#include "FakeConnectionLabels.h"
#include "TestHelpers.h"

#include "control/Plenko.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

// Runs one buffer-clear command and waits for its end, blocking between events. False when
// the control refused it or it did not end within the limit.
bool bufferClear(CardControl &control, qint32 &sendResult)
{
    CardCalls calls(control);
    qint32 code = DeviceCommand::BufferClear;
    QByteArray parameter;
    qint32 timeoutMs = 5000;
    bool dsr = false;
    sendResult = calls.SendCommand(code, parameter, timeoutMs, dsr);
    if (sendResult != 0)
        return false;
    bool expired = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { expired = true; });
    limit.start(15000);
    QCoreApplication::processEvents();
    while (calls.CommStatus() == LinkStatus::Busy && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !expired;
}

void fillBoxes(QWidget *dialog, const QStringList &texts)
{
    for (int n = 1; n <= 4; ++n)
        dialog->findChild<QLineEdit *>(QStringLiteral("txt_IP%1").arg(n))->setText(texts.at(n - 1));
}

} // namespace

class TestConnectionEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void menuChoiceOverSerial_data();
    void menuChoiceOverSerial();
    void addressDialogOverTcp();
    void addressDialogWhenNothingListens();
};

void TestConnectionEndToEnd::menuChoiceOverSerial_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("baudLabel");
    QTest::newRow("COM1 then 38400bps") << QStringList{"COM1", "38400bps"} << "38400bps";
    QTest::newRow("19200bps then COM1") << QStringList{"19200bps", "COM1"} << "19200bps";
}

void TestConnectionEndToEnd::menuChoiceOverSerial()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, baudLabel);
    EmulatorProcess emulator(EmulatorProcess::Options{true, {}});
    if (!emulator.start())
        QSKIP(qPrintable("kestra-emu did not start: " + emulator.errorText()));
    qputenv("PLENKO_COM1", emulator.ptyPath().toLocal8Bit());

    Plenko control;
    FakeConnectionLabels labels;
    QTimer Timer1;
    ConnectionSettings settings(control, labels, Timer1);
    for (const QString &entry : entries) {
        if (entry == QLatin1String("COM1")) {
            settings.choosePort(1);
        } else {
            for (const auto &item : ConnectionSettings::speedItems())
                if (entry == QLatin1String(item.caption))
                    settings.chooseSpeed(item.code);
        }
    }

    QCOMPARE(labels.port, QStringLiteral("Com1 ,"));
    QCOMPARE(labels.baud, baudLabel);
    CardCalls calls(control);
    QCOMPARE(calls.CommStatus(), LinkStatus::Idle);
    qint32 sendResult = -1;
    QVERIFY(bufferClear(control, sendResult));
    QCOMPARE(sendResult, 0);
    QCOMPARE(calls.ErrorCode(), LinkError::None);
    QCOMPARE(calls.ResponseCode(), kResponseNormal);
    calls.StopLink();
    calls.CloseLink();
}

void TestConnectionEndToEnd::addressDialogOverTcp()
{
    EmulatorProcess emulator;
    if (!emulator.start())
        QSKIP(qPrintable("kestra-emu did not start: " + emulator.errorText()));
    qputenv("PLENKO_TCP_PORT", QByteArray::number(emulator.tcpPort()));

    Plenko control;
    FakeConnectionLabels labels;
    AddressState address;
    address.IPOctet1 = 127;
    address.IPOctet2 = 0;
    address.IPOctet3 = 0;
    address.IPOctet4 = 1;
    QStringList messages;
    AddressDialogLauncher launcher(control, address, labels);
    launcher.setMessageSink([&](const QString &text) { messages << text; });
    launcher.showDialog();
    frm_IP *dialog = launcher.dialog();
    QVERIFY(dialog);
    fillBoxes(dialog, {"127", "0", "0", "1"});

    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmd_IPSet")), Qt::LeftButton);

    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
    QCOMPARE(launcher.dialog(), nullptr);
    QCOMPARE(labels.portNmae, QStringLiteral("IP Address := 127 . 0 . 0 . 1"));
    CardCalls calls(control);
    QCOMPARE(calls.CommStatus(), LinkStatus::Idle);
    qint32 sendResult = -1;
    QVERIFY(bufferClear(control, sendResult));
    QCOMPARE(sendResult, 0);
    QCOMPARE(calls.ErrorCode(), LinkError::None);
    QCOMPARE(calls.ResponseCode(), kResponseNormal);
    calls.StopLink();
    calls.CloseLink();
}

void TestConnectionEndToEnd::addressDialogWhenNothingListens()
{
    // A loopback port that was free a moment ago: the connection is refused at once.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    qputenv("PLENKO_TCP_PORT", QByteArray::number(closedPort));

    Plenko control;
    FakeConnectionLabels labels;
    AddressState address;
    QStringList messages;
    AddressDialogLauncher launcher(control, address, labels);
    launcher.setMessageSink([&](const QString &text) { messages << text; });
    launcher.showDialog();
    frm_IP *dialog = launcher.dialog();
    QVERIFY(dialog);
    fillBoxes(dialog, {"127", "0", "0", "1"});

    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmd_IPSet")), Qt::LeftButton);

    QCOMPARE(messages.size(), 1);
    // The system's own reason, not just the number.
    QCOMPARE(messages.first(), QStringLiteral("Could not connect to 127.0.0.1 port %1: connection refused "
                                              "(OpenLink result 3).").arg(closedPort));
    QCOMPARE(launcher.dialog(), dialog);
    QCOMPARE(CardCalls(control).CommStatus(), LinkStatus::NoLink);
    launcher.closeDialog();
}

QTEST_MAIN(TestConnectionEndToEnd)
#include "tst_connection_e2e.moc"
