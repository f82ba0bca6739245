#include "control/LinkWords.h"
#include "JournalEvents.h"
#include "transport/LinkEndpoints.h"
#include "transport/LinkTransport.h"
#include "transport/TransportTable.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

// A link as an address, from end to end: the endpoints make it from what OpenLink names, the
// transport registered for its kind opens it, and the record's words for it and for a failed open
// are made from the address and the failure alone. Standard error, the journal and the journal's
// readers take those words character for character.

Q_DECLARE_METATYPE(LinkAddress)
Q_DECLARE_METATYPE(LinkFailure)

namespace {

using Failure = LinkFailure::Kind;

LinkAddress serial(qint32 com, const QString &path, qint32 speedCode, qint32 baudRate, bool namedByPath = false)
{
    LinkAddress address;
    address.kind = LinkAddress::Kind::Serial;
    address.com = com;
    address.path = path;
    address.speedCode = speedCode;
    address.baudRate = baudRate;
    address.namedByPath = namedByPath;
    return address;
}

LinkAddress tcp(quint32 ipv4, quint16 port)
{
    LinkAddress address;
    address.kind = LinkAddress::Kind::Tcp;
    address.ipv4 = ipv4;
    address.port = port;
    return address;
}

constexpr quint32 kLoopback = 0x7F000001;
const QString kSendHint = QStringLiteral(
    "name the device with --device PATH or PLENKO_COM%1; brindle --list-ports lists the serial ports");
const QString kCheckAddressAndPort = QStringLiteral("check that the device is on and the address and port are right");

} // namespace

class TestLinkAddress : public QObject
{
    Q_OBJECT
private slots:
    void link_data();
    void link();
    void failedOpen_data();
    void failedOpen();
    void openOfNeitherForm();
    void endpointsMakeTheSerialAddress_data();
    void endpointsMakeTheSerialAddress();
    void endpointsMakeTheTcpAddress_data();
    void endpointsMakeTheTcpAddress();
    void everyKindOpensThroughItsTransport_data();
    void everyKindOpensThroughItsTransport();
};

void TestLinkAddress::link_data()
{
    QTest::addColumn<LinkAddress>("address");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("journalName");
    QTest::addColumn<QString>("opened");
    QTest::newRow("COM1") << serial(1, "/dev/ttyUSB0", 2, 9600) << "COM1 (/dev/ttyUSB0, 9600 bit/s)" << "com1"
                          << "opened";
    QTest::newRow("COM9 by id") << serial(9, "/dev/serial/by-id/usb-x", 5, 38400)
                                << "COM9 (/dev/serial/by-id/usb-x, 38400 bit/s)" << "com9" << "opened";
    QTest::newRow("a device named by its path") << serial(1, "/dev/ttyUSB0", 2, 9600, true)
                                                << "/dev/ttyUSB0 (9600 bit/s)" << "device" << "opened";
    QTest::newRow("loopback") << tcp(kLoopback, 10001) << "127.0.0.1 port 10001" << "tcp" << "connected";
    QTest::newRow("another address and port") << tcp(0xC0A8000A, 2001) << "192.168.0.10 port 2001" << "tcp"
                                              << "connected";
}

void TestLinkAddress::link()
{
    QFETCH(LinkAddress, address);
    QFETCH(QString, link);
    QFETCH(QString, journalName);
    QFETCH(QString, opened);
    QCOMPARE(LinkWords::link(address), link);
    QCOMPARE(LinkWords::journalName(address), journalName);
    QCOMPARE(LinkWords::openedWord(address), opened);
}

void TestLinkAddress::failedOpen_data()
{
    QTest::addColumn<LinkAddress>("address");
    QTest::addColumn<LinkFailure>("failure");
    QTest::addColumn<QString>("missingPortHint"); // the program's own; empty: the console's
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("hint");

    const LinkAddress com5 = serial(5, "/nonexistent/kestra-tty", 2, 9600);
    const LinkFailure missing{Failure::NoSuchDevice, "No such file or directory"};
    QTest::newRow("missing COM device") << com5 << missing << "" << "COM5 (/nonexistent/kestra-tty, 9600 bit/s)"
                                        << "No such file or directory"
                                        << "list the serial ports with --list-ports and name COM5's device with --com 5=PATH";
    QTest::newRow("missing COM device, kestra-send's words")
        << com5 << missing << kSendHint << "COM5 (/nonexistent/kestra-tty, 9600 bit/s)" << "No such file or directory"
        << "name the device with --device PATH or PLENKO_COM5; brindle --list-ports lists the serial ports";
    QTest::newRow("missing device named by its path")
        << serial(1, "/nonexistent/kestra-tty", 2, 9600, true) << missing << kSendHint
        << "/nonexistent/kestra-tty (9600 bit/s)" << "No such file or directory"
        << "check the path (a USB adapter may have come back under another name); brindle --list-ports lists the "
           "serial ports";
    QTest::newRow("COM0") << serial(0, "/dev/ttyS-1", 2, 9600) << LinkFailure{Failure::NoSuchCom, {}} << "" << "COM0"
                          << "there is no COM0" << "";
    QTest::newRow("a negative COM") << serial(-3, "/dev/ttyS-4", 2, 9600) << LinkFailure{Failure::NoSuchCom, {}} << ""
                                    << "COM-3" << "there is no COM-3" << "";
    QTest::newRow("speed code 6") << serial(1, "/dev/ttyS0", 6, 0) << LinkFailure{Failure::NoSuchSpeed, {}} << ""
                                  << "COM1 (/dev/ttyS0)" << "speed code 6 names no speed" << "";
    QTest::newRow("does not open") << com5 << LinkFailure{Failure::CannotOpen, "Inappropriate ioctl for device"} << ""
                                   << "COM5 (/nonexistent/kestra-tty, 9600 bit/s)" << "Inappropriate ioctl for device"
                                   << "";
    const QString holder = QStringLiteral(
        "the port is in use by another program, kestra-send (process 4242); close it, or wait until it has finished");
    QTest::newRow("busy") << com5 << LinkFailure{Failure::Busy, holder} << ""
                          << "COM5 (/nonexistent/kestra-tty, 9600 bit/s)" << holder << "";

    const LinkAddress loopback = tcp(kLoopback, 10001);
    QTest::newRow("refused") << loopback << LinkFailure{Failure::Refused, "Connection refused"} << ""
                             << "127.0.0.1 port 10001" << "connection refused" << kCheckAddressAndPort;
    QTest::newRow("unreachable") << loopback << LinkFailure{Failure::Unreachable, "Network unreachable"} << ""
                                 << "127.0.0.1 port 10001" << "network unreachable" << kCheckAddressAndPort;
    QTest::newRow("unreachable, without the system's words")
        << loopback << LinkFailure{Failure::Unreachable, {}} << "" << "127.0.0.1 port 10001" << "" << kCheckAddressAndPort;
    QTest::newRow("timed out") << loopback << LinkFailure{Failure::TimedOut, {}} << "" << "127.0.0.1 port 10001"
                               << "no answer within 3 seconds" << "check that the device is on and the address is right";
    QTest::newRow("dropped at once") << loopback << LinkFailure{Failure::DroppedAtOnce, {}} << ""
                                     << "127.0.0.1 port 10001" << "the connection dropped as soon as it was made" << "";
    QTest::newRow("interrupted") << loopback << LinkFailure{Failure::Interrupted, {}} << "" << "127.0.0.1 port 10001"
                                 << "the wait for the connection was interrupted" << "";
}

void TestLinkAddress::failedOpen()
{
    QFETCH(LinkAddress, address);
    QFETCH(LinkFailure, failure);
    QFETCH(QString, missingPortHint);
    QFETCH(QString, what);
    QFETCH(QString, reason);
    QFETCH(QString, hint);
    QCOMPARE(LinkWords::failedLink(address, failure), what);
    QCOMPARE(LinkWords::failureReason(address, failure), reason);
    QCOMPARE(LinkWords::failureHint(address, failure, missingPortHint), hint);
    // The journal's readers take the reason back out of its line.
    const QString line = Journal::openFailedText(what, reason, 2, QStringLiteral("meaning"), hint);
    QCOMPARE(QString::fromUtf8(Journal::openFailureReason(line.toUtf8()).toByteArray()), reason);
}

void TestLinkAddress::openOfNeitherForm()
{
    QCOMPARE(LinkWords::openCall({1, 2, 0, 0}), QStringLiteral("OpenLink(1, 2, 0, 0)"));
    QCOMPARE(LinkWords::openCall({-2130706431, -1, -1, 1}), QStringLiteral("OpenLink(-2130706431, -1, -1, 1)"));
    QCOMPARE(LinkWords::openCallReason(), QStringLiteral("arguments not understood"));
}

void TestLinkAddress::endpointsMakeTheSerialAddress_data()
{
    QTest::addColumn<qint32>("port");
    QTest::addColumn<QByteArray>("environment"); // PLENKO_COM<port>; null leaves it unset
    QTest::addColumn<QString>("comPath");        // --com N=PATH; empty: none
    QTest::addColumn<QString>("device");         // --device PATH, as COM<port>; empty: none
    QTest::addColumn<qint32>("speedCode");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("standardPath"); // what endpoints without a command line say
    QTest::newRow("COM2") << 2 << QByteArray() << "" << "" << 2 << "COM2 (/dev/ttyS1, 9600 bit/s)" << "/dev/ttyS1";
    QTest::newRow("COM3 from the environment") << 3 << QByteArray("/dev/ttyUSB3") << "" << "" << 1
                                               << "COM3 (/dev/ttyUSB3, 19200 bit/s)" << "/dev/ttyUSB3";
    QTest::newRow("command line over environment") << 4 << QByteArray("/dev/ttyUSB4") << "/dev/ttyACM0" << "" << 5
                                                   << "COM4 (/dev/ttyACM0, 38400 bit/s)" << "/dev/ttyUSB4";
    QTest::newRow("a device named by its path") << 1 << QByteArray("/dev/ttyUSB1") << "" << "/dev/pts/7" << 2
                                                << "/dev/pts/7 (9600 bit/s)" << "/dev/ttyUSB1";
    QTest::newRow("a speed code that names no speed") << 6 << QByteArray() << "" << "" << 6
                                                      << "COM6 (/dev/ttyS5, 0 bit/s)" << "/dev/ttyS5";
    QTest::newRow("COM10 has no command-line path") << 10 << QByteArray() << "/dev/ttyUSB9" << "" << 2
                                                    << "COM10 (/dev/ttyS9, 9600 bit/s)" << "/dev/ttyS9";
}

void TestLinkAddress::endpointsMakeTheSerialAddress()
{
    QFETCH(qint32, port);
    QFETCH(QByteArray, environment);
    QFETCH(QString, comPath);
    QFETCH(QString, device);
    QFETCH(qint32, speedCode);
    QFETCH(QString, link);
    QFETCH(QString, standardPath);
    const QByteArray variable = "PLENKO_COM" + QByteArray::number(port);
    if (environment.isNull())
        qunsetenv(variable.constData());
    else
        qputenv(variable.constData(), environment);
    LinkEndpoints endpoints;
    if (!comPath.isEmpty())
        endpoints.setComPath(port, comPath);
    if (!device.isEmpty())
        endpoints.setComDevice(port, device);
    const LinkAddress address = endpoints.serialAddress(port, speedCode);
    QCOMPARE(address.kind, LinkAddress::Kind::Serial);
    QCOMPARE(address.com, port);
    QCOMPARE(address.speedCode, speedCode);
    QCOMPARE(LinkWords::link(address), link);
    // Each program's endpoints are its own: none of this reaches another object.
    QCOMPARE(LinkEndpoints::standard().serialAddress(port, speedCode).path, standardPath);
    QCOMPARE(LinkEndpoints().serialAddress(port, speedCode).namedByPath, false);
    // --com N=PATH after --device names the port as COMn again.
    if (!device.isEmpty()) {
        endpoints.setComPath(port, device);
        QCOMPARE(endpoints.serialAddress(port, speedCode).namedByPath, false);
    }
    qunsetenv(variable.constData());
}

void TestLinkAddress::endpointsMakeTheTcpAddress_data()
{
    QTest::addColumn<int>("commandLine"); // --tcp-port; 0: none
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("standardPort"); // what endpoints without a command line say
    QTest::newRow("default") << 0 << QByteArray() << 10001 << 10001;
    QTest::newRow("environment") << 0 << QByteArray("2001") << 2001 << 2001;
    QTest::newRow("command line over environment") << 3000 << QByteArray("2001") << 3000 << 2001;
    QTest::newRow("environment that is no port") << 0 << QByteArray("http") << 10001 << 10001;
}

void TestLinkAddress::endpointsMakeTheTcpAddress()
{
    QFETCH(int, commandLine);
    QFETCH(QByteArray, environment);
    QFETCH(int, port);
    QFETCH(int, standardPort);
    if (environment.isNull())
        qunsetenv("PLENKO_TCP_PORT");
    else
        qputenv("PLENKO_TCP_PORT", environment);
    LinkEndpoints endpoints;
    endpoints.setTcpPort(quint16(commandLine));
    const LinkAddress address = endpoints.tcpAddress(0xC0A8000A);
    QCOMPARE(address.kind, LinkAddress::Kind::Tcp);
    QCOMPARE(int(address.port), port);
    QCOMPARE(LinkWords::link(address), QStringLiteral("192.168.0.10 port %1").arg(port));
    QCOMPARE(int(LinkEndpoints::standard().tcpPort()), standardPort);
    qunsetenv("PLENKO_TCP_PORT");
}

// The table hands each kind the transport that opens it: a serial device is tried in the call, a
// connection is waited for and its refusal comes later, each with its kind and the system's words.
void TestLinkAddress::everyKindOpensThroughItsTransport_data()
{
    QTest::addColumn<LinkAddress>("address");
    QTest::addColumn<bool>("later");
    QTest::addColumn<int>("failure");
    QTest::newRow("serial") << serial(1, "/nonexistent/kestra-tty", 2, 9600) << false << int(Failure::NoSuchDevice);
    QTest::newRow("serial, COM0") << serial(0, "/dev/ttyS-1", 2, 9600) << false << int(Failure::NoSuchCom);
    QTest::newRow("serial, no speed") << serial(1, "/nonexistent/kestra-tty", 6, 0) << false << int(Failure::NoSuchSpeed);
    QTest::newRow("tcp") << tcp(kLoopback, 0) << true << int(Failure::Refused);
}

void TestLinkAddress::everyKindOpensThroughItsTransport()
{
    QFETCH(LinkAddress, address);
    QFETCH(bool, later);
    QFETCH(int, failure);
    if (address.kind == LinkAddress::Kind::Tcp) { // a loopback port that nobody listens on
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        address.port = probe.serverPort();
    }
    QObject owner;
    LinkTransport *transport = makeTransport(address.kind, &owner);
    QVERIFY(transport);
    QCOMPARE(transport->parent(), &owner);
    QCOMPARE(transport->opensLater(), later);
    QSignalSpy opened(transport, &LinkTransport::opened);
    QSignalSpy failed(transport, &LinkTransport::openFailed);
    const LinkTransport::Opening answer = transport->open(address);
    if (later) {
        QCOMPARE(answer, LinkTransport::Opening::Pending);
        QVERIFY(failed.count() == 1 || failed.wait(5000));
    } else {
        QCOMPARE(answer, LinkTransport::Opening::Failed);
        QCOMPARE(failed.count(), 0); // told in the answer, not by a signal
    }
    QCOMPARE(opened.count(), 0);
    QCOMPARE(int(transport->openFailure().kind), failure);
    const bool ownFinding = failure == int(Failure::NoSuchCom) || failure == int(Failure::NoSuchSpeed);
    QCOMPARE(transport->openFailure().systemReason.isEmpty(), ownFinding);
}

QTEST_GUILESS_MAIN(TestLinkAddress)
#include "tst_linkaddress.moc"
