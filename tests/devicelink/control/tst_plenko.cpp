#include "transport/LinkEndpoints.h"
#include "transport/ModemLines.h"
#include "control/Plenko.h"
#include "ScriptedPeer.h"
#include "transport/TcpTransport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using Kind = FrameReader::Kind;
using Line = ScriptedPeer::Line;

Q_DECLARE_METATYPE(ScriptedPeer::Line)

namespace {

constexpr qint32 kLoopback = qint32(0x7F000001); // 127.0.0.1, first part in bits 31-24
const QByteArray kAck(1, Wire::ACK);

QByteArray response(char status, const QByteArray &data = {})
{
    return encodeFrame(QByteArray(1, status) + data);
}

qint32 status(Plenko &control)
{
    return control.CommStatus().toInt();
}

// Opens and starts the control's link to the peer; the OpenLink result.
qint32 openTo(Plenko &control, ScriptedPeer &peer, bool start = true)
{
    qint32 result = -99;
    if (peer.line() == Line::Tcp) {
        qputenv("PLENKO_TCP_PORT", QByteArray::number(peer.port()));
        qint32 address = kLoopback;
        qint32 speed = -1;
        result = control.OpenLink(address, speed, -1, -1).toInt();
    } else {
        qint32 port = 1;
        qint32 speed = 2;
        result = control.OpenLink(port, speed, 1, 1).toInt();
    }
    if (start)
        control.StartLink(0);
    return result;
}

qint32 send(Plenko &control, qint32 code, QByteArray parameter = {}, qint32 timeoutMs = 5000, bool dsr = false)
{
    return control.SendCommand(code, parameter, timeoutMs, dsr).toInt();
}

bool waitForEnd(Plenko &control, int ms = 5000)
{
    return waitUntil([&] { return status(control) != LinkStatus::Busy; }, ms);
}

// Lets events run for a while, blocking between them, to show that something does not happen.
void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A loopback listener whose accept queue is full, so that a further connection attempt gets no
// answer at all (its SYN is dropped) and stays pending.
class SilentListener
{
public:
    SilentListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        // Fill the queue: these connections complete in the kernel and are never accepted.
        for (int i = 0; i < 2; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            m_fillers.append(filler);
        }
        ::usleep(50 * 1000); // let the kernel finish the handshakes of the fillers
    }
    ~SilentListener()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    QList<int> m_fillers;
    quint16 m_port = 0;
};

class FixedModemLines : public ModemLines
{
public:
    std::optional<bool> dsr;
    int reads = 0;
    std::optional<bool> dsrActive() override
    {
        ++reads;
        return dsr;
    }
};

void addLines()
{
    QTest::addColumn<Line>("line");
}

} // namespace

class TestPlenko : public QObject
{
    Q_OBJECT
private slots:
    void lifecycle_data();
    void lifecycle();
    void callsWithoutLinkAreHarmless();
    void outcomes_data();
    void outcomes();
    void endedByCaller_data();
    void endedByCaller();
    void refusals_data();
    void refusals();
    void longestParameterGoesOut();
    void outcomeClearedWhenAccepted();
    void dsrCheck_data();
    void dsrCheck();
    void abortBeforeQueuedDsrEnd();
    void linkLostWhileIdle_data();
    void linkLostWhileIdle();
    void staleLossSparesTheNextLink_data();
    void staleLossSparesTheNextLink();
    void openFailures_data();
    void openFailures();
    void alreadyOpen_data();
    void alreadyOpen();
    void comPortPaths_data();
    void comPortPaths();
    void speedCodesReachTheLine_data();
    void speedCodesReachTheLine();
    void hangUpDoesNotSpin();
    void serialErrors_data();
    void serialErrors();
    void connectTimesOutWithoutFreezing();
    void reentrantCallsDuringConnectWait_data();
    void reentrantCallsDuringConnectWait();
    void destroyedDuringConnectWait();
    void connectionLostBeforeConnectWaitReturns();
};

void TestPlenko::lifecycle_data()
{
    addLines();
    QTest::newRow("tcp") << Line::Tcp;
    QTest::newRow("pty") << Line::Pty;
}

void TestPlenko::lifecycle()
{
    QFETCH(Line, line);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(control.Version().toInt(), Plenko::kVersion);
    QCOMPARE(status(control), LinkStatus::NoLink);
    QCOMPARE(openTo(control, peer, false), qint32(Plenko::Opened));
    QCOMPARE(status(control), LinkStatus::Open);
    QCOMPARE(control.StartLink(0).toInt(), qint32(Plenko::Started));
    QCOMPARE(status(control), LinkStatus::Idle);

    peer.replies = {kAck + response(0x20, "DATA")};
    QCOMPARE(send(control, 34), qint32(Plenko::Accepted));
    QCOMPARE(status(control), LinkStatus::Busy);
    QVERIFY(waitForEnd(control));
    QCOMPARE(status(control), LinkStatus::Idle);
    QCOMPARE(control.ErrorCode().toInt(), LinkError::None);
    QCOMPARE(control.ResponseCode().toInt(), 0x20);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("DATA"));
    QCOMPARE(peer.commandBodies(), QList<QByteArray>{QByteArray("\x22")});
    QVERIFY(waitUntil([&] { return peer.count(Kind::Ack) == 1; })); // the response was acknowledged

    QCOMPARE(control.StopLink().toInt(), 0);
    QCOMPARE(status(control), LinkStatus::Open);
    QCOMPARE(control.StartLink(0).toInt(), qint32(Plenko::Started)); // a stopped link starts again
    QCOMPARE(status(control), LinkStatus::Idle);
    QCOMPARE(control.StopLink().toInt(), 0);
    QCOMPARE(control.CloseLink().toInt(), 0);
    QCOMPARE(status(control), LinkStatus::NoLink);
    // The same port opens again at once: the close really released it.
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QCOMPARE(status(control), LinkStatus::Idle);
}

void TestPlenko::callsWithoutLinkAreHarmless()
{
    Plenko control;
    QCOMPARE(control.StopLink().toInt(), 0);
    QCOMPARE(control.CloseLink().toInt(), 0);
    QCOMPARE(control.AbortCommand().toInt(), 0);
    QCOMPARE(control.StartLink(0).toInt(), qint32(Plenko::NothingOpen));
    QCOMPARE(status(control), LinkStatus::NoLink);
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray());
}

// What the exchange does with each interleaving of ACK, NAK, damaged frames and time-outs is stated
// to the millisecond in tst_commandexchange; these rows take answers over the real lines: whole,
// in pieces, and with the line closing under them.
void TestPlenko::outcomes_data()
{
    addLines();
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("closeAfterLast");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("responseCode");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("linkSurvives");

    const QByteArray good = response(0x20, "CARD-DATA");
    struct Row
    {
        const char *name;
        QList<QByteArray> replies;
        int pieceSize = 0;
        bool closeAfterLast = false;
        int errorCode = 0;
        int responseCode = 0;
        QByteArray data;
        bool linkSurvives = true;
        bool tcpOnly = false; // a pseudo-terminal's hang-up discards what its far side wrote last
    };
    const QList<Row> rows = {
        {"normal", {kAck + good}, 0, false, 0, 0x20, "CARD-DATA"},
        {"device status passed on", {kAck + response(0x31, "E")}, 0, false, 0, 0x31, "E"},
        {"status only", {kAck + response(0x20)}, 0, false, 0, 0x20, ""},
        {"ack and response byte by byte", {kAck + good}, 1, false, 0, 0x20, "CARD-DATA"},
        {"ack and response in threes", {kAck + good}, 3, false, 0, 0x20, "CARD-DATA"},
        {"line closes mid-response", {kAck + good.left(6)}, 0, true, LinkError::LinkLost, 0, "", false},
        {"line closes right after the response", {kAck + good}, 0, true, 0, 0x20, "CARD-DATA", false, true},
    };
    for (Line line : {Line::Tcp, Line::Pty}) {
        for (const Row &r : rows) {
            if (r.tcpOnly && line != Line::Tcp)
                continue;
            QTest::addRow("%s %s", line == Line::Tcp ? "tcp" : "pty", r.name)
                << line << r.replies << r.pieceSize << r.closeAfterLast << r.errorCode << r.responseCode << r.data
                << r.linkSurvives;
        }
    }
}

void TestPlenko::outcomes()
{
    QFETCH(Line, line);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(int, pieceSize);
    QFETCH(bool, closeAfterLast);
    QFETCH(int, errorCode);
    QFETCH(int, responseCode);
    QFETCH(QByteArray, data);
    QFETCH(bool, linkSurvives);

    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    peer.replies = replies;
    peer.pieceSize = pieceSize;
    peer.closeAfterLastReply = closeAfterLast;
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));

    const int timeoutMs = 5000;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(send(control, 0x22, "P", timeoutMs), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control, 10000));
    QCOMPARE(control.ErrorCode().toInt(), errorCode);
    QCOMPARE(control.ResponseCode().toInt(), responseCode);
    QCOMPARE(control.ResponseData().toByteArray(), data);
    QVERIFY2(clock.elapsed() < timeoutMs + 2000, qPrintable(QString::number(clock.elapsed())));

    QVERIFY(waitUntil([&] { return peer.commandBodies().size() >= 1; }));
    QCOMPARE(peer.commandBodies(), QList<QByteArray>{QByteArray("\x22P")});
    QCOMPARE(peer.count(Kind::Nak), 0);

    if (!linkSurvives) {
        QVERIFY(waitUntil([&] { return status(control) == LinkStatus::NoLink; }));
        QCOMPARE(send(control, 0x22), qint32(Plenko::LinkNotStarted));
        return;
    }
    // Whatever the first command met, the next one on the same link goes through.
    QCOMPARE(status(control), LinkStatus::Idle);
    peer.replies.clear();
    peer.pieceSize = 0;
    peer.onCommand = [&peer](const QByteArray &body) { peer.write(kAck + response(0x20, "NEXT:" + body)); };
    QCOMPARE(send(control, 0x49, "2"), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("NEXT:I2"));
}

void TestPlenko::endedByCaller_data()
{
    addLines();
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("statusAfter");
    for (Line line : {Line::Tcp, Line::Pty}) {
        const char *l = line == Line::Tcp ? "tcp" : "pty";
        QTest::addRow("%s AbortCommand", l) << line << "AbortCommand" << LinkStatus::Idle;
        QTest::addRow("%s StopLink", l) << line << "StopLink" << LinkStatus::Open;
        QTest::addRow("%s CloseLink", l) << line << "CloseLink" << LinkStatus::NoLink;
    }
}

void TestPlenko::endedByCaller()
{
    QFETCH(Line, line);
    QFETCH(QString, call);
    QFETCH(int, statusAfter);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));

    // The device is half-way through its answer when the caller gives up.
    const QByteArray abandoned = response(0x20, "ABANDONED");
    int commands = 0;
    peer.onCommand = [&](const QByteArray &body) {
        if (++commands == 1)
            peer.write(kAck + abandoned.left(5));
        else
            peer.write(kAck + response(0x20, "NEW:" + body.mid(1)));
    };
    QCOMPARE(send(control, 0x46, {}, 0), qint32(Plenko::Accepted)); // no time limit
    QVERIFY(waitUntil([&] { return commands == 1; }));
    settle(50); // let the partial answer arrive
    QCOMPARE(status(control), LinkStatus::Busy);

    if (call == "AbortCommand")
        QCOMPARE(control.AbortCommand().toInt(), 0);
    else if (call == "StopLink")
        QCOMPARE(control.StopLink().toInt(), 0);
    else
        QCOMPARE(control.CloseLink().toInt(), 0);
    // Ended inside the call itself.
    QCOMPARE(status(control), statusAfter);
    QCOMPARE(control.ErrorCode().toInt(), LinkError::Aborted);
    QCOMPARE(control.ResponseCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray());

    if (statusAfter == LinkStatus::NoLink) {
        QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    } else {
        control.StartLink(0);
        peer.write(abandoned.mid(5)); // the rest of the abandoned answer is now just noise
    }
    QCOMPARE(status(control), LinkStatus::Idle);
    QCOMPARE(send(control, 0x22, "y"), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("NEW:y"));
}

void TestPlenko::refusals_data()
{
    addLines();
    QTest::addColumn<QString>("situation");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<int>("parameterSize");
    QTest::addColumn<int>("result");
    for (Line line : {Line::Tcp, Line::Pty}) {
        const char *l = line == Line::Tcp ? "tcp" : "pty";
        QTest::addRow("%s not open", l) << line << "closed" << 34 << 0 << int(Plenko::LinkNotStarted);
        QTest::addRow("%s open, not started", l) << line << "open" << 34 << 0 << int(Plenko::LinkNotStarted);
        QTest::addRow("%s stopped", l) << line << "stopped" << 34 << 0 << int(Plenko::LinkNotStarted);
        QTest::addRow("%s busy", l) << line << "busy" << 34 << 0 << int(Plenko::CommandRunning);
        QTest::addRow("%s code 256", l) << line << "started" << 256 << 0 << int(Plenko::CodeOutOfRange);
        QTest::addRow("%s code -1", l) << line << "started" << -1 << 0 << int(Plenko::CodeOutOfRange);
        QTest::addRow("%s parameter 65535 bytes", l)
            << line << "started" << 34 << 65535 << int(Plenko::ParameterTooLong);
    }
}

void TestPlenko::refusals()
{
    QFETCH(Line, line);
    QFETCH(QString, situation);
    QFETCH(qint32, code);
    QFETCH(int, parameterSize);
    QFETCH(int, result);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    Plenko control;
    if (situation != "closed")
        QCOMPARE(openTo(control, peer, situation != "open"), qint32(Plenko::Opened));
    if (situation == "stopped")
        control.StopLink();
    peer.onCommand = [&peer](const QByteArray &body) {
        if (body != "\x46")
            peer.write(kAck + response(0x20, body));
    };
    if (situation == "busy")
        QCOMPARE(send(control, 0x46, {}, 0), qint32(Plenko::Accepted)); // never answered
    const qint32 before = status(control);
    const qint32 errorBefore = control.ErrorCode().toInt();

    QCOMPARE(send(control, code, QByteArray(parameterSize, 'p')), qint32(result));
    QCOMPARE(status(control), before);
    QCOMPARE(control.ErrorCode().toInt(), errorBefore);

    // Nothing went out for the refused command: the next frame the peer sees is the next
    // accepted one.
    if (situation == "closed" || situation == "open" || situation == "stopped") {
        if (situation == "closed")
            QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
        else
            control.StartLink(0);
    } else if (situation == "busy") {
        QVERIFY(waitUntil([&] { return peer.commandBodies().size() == 1; }));
        control.AbortCommand();
    }
    QCOMPARE(send(control, 0x30, "ok"), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QList<QByteArray> expected;
    if (situation == "busy")
        expected.append("\x46");
    expected.append("\x30ok");
    QCOMPARE(peer.commandBodies(), expected);
}

void TestPlenko::longestParameterGoesOut()
{
    for (Line line : {Line::Tcp, Line::Pty}) {
        ScriptedPeer peer(line);
        QVERIFY(peer.start());
        Plenko control;
        QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
        peer.onCommand = [&peer](const QByteArray &body) {
            peer.write(kAck + response(0x20, QByteArray::number(body.size())));
        };
        QByteArray parameter(Plenko::kMaxParameter, '\0');
        for (int i = 0; i < parameter.size(); ++i)
            parameter[i] = char(i * 7); // every byte value, framing bytes included
        QCOMPARE(send(control, 0x41, parameter, 20000), qint32(Plenko::Accepted));
        QVERIFY(waitForEnd(control, 20000));
        QCOMPARE(control.ErrorCode().toInt(), 0);
        QCOMPARE(control.ResponseData().toByteArray(), QByteArray("65535"));
        QCOMPARE(peer.commandBodies().value(0), QByteArray("\x41") + parameter);
    }
}

void TestPlenko::outcomeClearedWhenAccepted()
{
    ScriptedPeer peer(Line::Tcp);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    int commands = 0;
    peer.onCommand = [&](const QByteArray &) {
        if (++commands == 1)
            peer.write(kAck + response(0x31, "FIRST"));
    };
    QCOMPARE(send(control, 0x22), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ResponseCode().toInt(), 0x31);
    control.ErrorCode(); // reading does not clear anything
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("FIRST"));

    QCOMPARE(send(control, 0x22, {}, 0), qint32(Plenko::Accepted));
    QCOMPARE(status(control), LinkStatus::Busy);
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray());
    control.AbortCommand();
}

void TestPlenko::dsrCheck_data()
{
    addLines();
    QTest::addColumn<bool>("useSeam");
    QTest::addColumn<int>("dsr"); // -1: the lines cannot be read, 0 inactive, 1 active
    QTest::addColumn<bool>("flag");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("seamReads");
    QTest::newRow("serial, inactive, checked") << Line::Pty << true << 0 << true << LinkError::DsrInactive << 1;
    QTest::newRow("serial, inactive, not checked") << Line::Pty << true << 0 << false << 0 << 0;
    QTest::newRow("serial, active, checked") << Line::Pty << true << 1 << true << 0 << 1;
    QTest::newRow("serial, unreadable, checked") << Line::Pty << true << -1 << true << 0 << 1;
    QTest::newRow("pseudo-terminal's own lines, checked") << Line::Pty << false << 0 << true << 0 << 0;
    QTest::newRow("network ignores the flag") << Line::Tcp << true << 0 << true << 0 << 0;
}

void TestPlenko::dsrCheck()
{
    QFETCH(Line, line);
    QFETCH(bool, useSeam);
    QFETCH(int, dsr);
    QFETCH(bool, flag);
    QFETCH(int, errorCode);
    QFETCH(int, seamReads);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    peer.onCommand = [&peer](const QByteArray &) { peer.write(kAck + response(0x20, "R")); };
    Plenko control;
    FixedModemLines lines;
    if (dsr >= 0)
        lines.dsr = dsr == 1;
    if (useSeam)
        control.setModemLinesForTesting(&lines);
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));

    QCOMPARE(send(control, 0x22, {}, 2000, flag), qint32(Plenko::Accepted));
    // Even a command refused by the DSR check ends from the event loop, not inside SendCommand.
    QCOMPARE(status(control), LinkStatus::Busy);
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), errorCode);
    QCOMPARE(lines.reads, seamReads);
    if (errorCode == LinkError::DsrInactive) {
        QCOMPARE(control.ResponseCode().toInt(), 0);
        settle(50);
        QCOMPARE(peer.received.size(), 0); // nothing was sent
        QCOMPARE(status(control), LinkStatus::Idle);
    } else {
        QCOMPARE(control.ResponseData().toByteArray(), QByteArray("R"));
        QCOMPARE(peer.commandBodies().size(), 1);
    }
}

void TestPlenko::abortBeforeQueuedDsrEnd()
{
    ScriptedPeer peer(Line::Pty);
    QVERIFY(peer.start());
    Plenko control;
    FixedModemLines lines;
    lines.dsr = false;
    control.setModemLinesForTesting(&lines);
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QCOMPARE(send(control, 0x22, {}, 2000, true), qint32(Plenko::Accepted));
    control.AbortCommand();
    QCOMPARE(control.ErrorCode().toInt(), LinkError::Aborted);
    // The end queued for the DSR check belongs to the abandoned command and must not touch the
    // next one.
    peer.onCommand = [&peer](const QByteArray &) { QTimer::singleShot(100, &peer, [&peer] { peer.write(kAck + response(0x20)); }); };
    QCOMPARE(send(control, 0x22, {}, 2000, false), qint32(Plenko::Accepted));
    QCoreApplication::processEvents();
    QCOMPARE(status(control), LinkStatus::Busy);
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), 0);
}

void TestPlenko::linkLostWhileIdle_data()
{
    lifecycle_data();
}

void TestPlenko::linkLostWhileIdle()
{
    QFETCH(Line, line);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    if (line == Line::Tcp) // the server side exists once the connection has been taken
        QVERIFY(waitUntil([&] { return peer.lineOpen(); }));
    peer.closeLine();
    QVERIFY(waitUntil([&] { return status(control) == LinkStatus::NoLink; }));
    QCOMPARE(send(control, 0x22), qint32(Plenko::LinkNotStarted));
    QCOMPARE(control.StopLink().toInt(), 0);
    QCOMPARE(control.CloseLink().toInt(), 0);
}

void TestPlenko::staleLossSparesTheNextLink_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<bool>("byWrite"); // the write of a command's frame meets the hang-up; else told by hand
    // A write to a pseudo-terminal whose far side has gone fails inside SendCommand, so the loss is
    // reported there and then, and handled only once the caller is back in the event loop.
    QTest::newRow("pty, a frame's write meets the hang-up") << Line::Pty << true;
    // A socket tells its loss from the event loop only; the report is raised by hand here, with the
    // link replaced before the loop runs again, as a handler that reconnects at once would.
    QTest::newRow("tcp, told while the caller reconnects") << Line::Tcp << false;
    QTest::newRow("pty, told while the caller reconnects") << Line::Pty << false;
}

// A link's loss is handled from the event loop. When the caller has closed that link and opened
// another one before then, the report belongs to a link that is gone: it must neither end the new
// link nor be told as its loss.
void TestPlenko::staleLossSparesTheNextLink()
{
    QFETCH(Line, line);
    QFETCH(bool, byWrite);
    ScriptedPeer first(line);
    QVERIFY(first.start());
    Plenko control;
    QCOMPARE(openTo(control, first), qint32(Plenko::Opened));
    if (line == Line::Tcp)
        QVERIFY(waitUntil([&] { return first.lineOpen(); }));
    QPointer<LinkTransport> old = control.findChild<LinkTransport *>();
    QVERIFY(old);

    // What the control tells on standard error meanwhile.
    static QStringList told;
    told.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
        if (QLatin1String(context.category) == QLatin1String("brindle.link"))
            told.append(text);
    });
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });

    if (byWrite) {
        first.closeLine();
        QCOMPARE(send(control, 0x22, {}, 0), qint32(Plenko::Accepted));
        QVERIFY(old->isLost()); // reported inside the call, handled later
    } else {
        emit old->lost();
    }
    ScriptedPeer next(line);
    QVERIFY(next.start());
    QCOMPARE(control.CloseLink().toInt(), 0);
    QCOMPARE(openTo(control, next), qint32(Plenko::Opened));

    settle(100);
    QCOMPARE(status(control), LinkStatus::Idle);
    for (const QString &text : std::as_const(told))
        QVERIFY2(!text.contains(QLatin1String(" lost: ")), qPrintable(text));
    next.replies = {kAck + response(0x20, "next link")};
    QCOMPARE(send(control, 0x22), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), 0);
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("next link"));
}

void TestPlenko::openFailures_data()
{
    QTest::addColumn<qint32>("port");
    QTest::addColumn<qint32>("speed");
    QTest::addColumn<qint32>("arg3");
    QTest::addColumn<qint32>("arg4");
    QTest::addColumn<QByteArray>("comPath"); // PLENKO_COM<port> for the row; empty leaves it unset
    QTest::addColumn<int>("result");
    QTest::newRow("port 0") << 0 << 2 << 1 << 1 << QByteArray() << int(Plenko::NoSuchPort);
    QTest::newRow("negative port") << -3 << 2 << 1 << 1 << QByteArray() << int(Plenko::NoSuchPort);
    QTest::newRow("missing device") << 5 << 2 << 1 << 1 << QByteArray("/nonexistent/kestra-tty") << int(Plenko::NoSuchPort);
    QTest::newRow("not a serial device") << 6 << 2 << 1 << 1 << QByteArray("<regular file>") << int(Plenko::CannotOpen);
    QTest::newRow("speed code 6") << 1 << 6 << 1 << 1 << QByteArray() << int(Plenko::ArgumentsNotUnderstood);
    QTest::newRow("speed code -2") << 1 << -2 << 1 << 1 << QByteArray() << int(Plenko::ArgumentsNotUnderstood);
    QTest::newRow("neither form") << 1 << 2 << 0 << 0 << QByteArray() << int(Plenko::ArgumentsNotUnderstood);
    QTest::newRow("connection refused") << kLoopback << -1 << -1 << -1 << QByteArray() << int(Plenko::ConnectionFailed);
}

void TestPlenko::openFailures()
{
    QFETCH(qint32, port);
    QFETCH(qint32, speed);
    QFETCH(qint32, arg3);
    QFETCH(qint32, arg4);
    QFETCH(QByteArray, comPath);
    QFETCH(int, result);
    QTemporaryFile regular;
    if (comPath == "<regular file>") {
        QVERIFY(regular.open());
        comPath = regular.fileName().toLocal8Bit();
    }
    const QByteArray variable = "PLENKO_COM" + QByteArray::number(port);
    if (!comPath.isEmpty())
        qputenv(variable.constData(), comPath);
    if (speed == -1) { // a loopback port that nobody listens on
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        qputenv("PLENKO_TCP_PORT", QByteArray::number(probe.serverPort()));
        probe.close();
    }
    Plenko control;
    const qint32 portBefore = port;
    const qint32 speedBefore = speed;
    QCOMPARE(control.OpenLink(port, speed, arg3, arg4).toInt(), result);
    QCOMPARE(port, portBefore); // the caller's variables are left as they were
    QCOMPARE(speed, speedBefore);
    QCOMPARE(status(control), LinkStatus::NoLink);
    QCOMPARE(control.StartLink(0).toInt(), qint32(Plenko::NothingOpen));
    QCOMPARE(status(control), LinkStatus::NoLink);
    if (!comPath.isEmpty())
        qunsetenv(variable.constData());
}

void TestPlenko::alreadyOpen_data()
{
    lifecycle_data();
}

void TestPlenko::alreadyOpen()
{
    QFETCH(Line, line);
    ScriptedPeer peer(line);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QCOMPARE(openTo(control, peer, false), qint32(Plenko::AlreadyOpen));
    QCOMPARE(status(control), LinkStatus::Idle);
    peer.replies = {kAck + response(0x20, "still here")};
    QCOMPARE(send(control, 0x22), qint32(Plenko::Accepted));
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("still here"));
}

void TestPlenko::comPortPaths_data()
{
    QTest::addColumn<qint32>("port");
    QTest::addColumn<QByteArray>("configured");
    QTest::addColumn<QString>("commandLine"); // what --com named for the port
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << 1 << QByteArray() << QString() << "/dev/ttyS0";
    QTest::newRow("COM9") << 9 << QByteArray() << QString() << "/dev/ttyS8";
    QTest::newRow("COM2 named elsewhere") << 2 << QByteArray("/dev/ttyUSB0") << QString() << "/dev/ttyUSB0";
    QTest::newRow("COM3 set but empty") << 3 << QByteArray("") << QString() << "/dev/ttyS2";
    QTest::newRow("command line over environment")
        << 4 << QByteArray("/dev/ttyUSB0") << "/dev/serial/by-id/usb-x" << "/dev/serial/by-id/usb-x";
    QTest::newRow("command line alone") << 5 << QByteArray() << "/dev/ttyACM0" << "/dev/ttyACM0";
    QTest::newRow("COM10 is no command-line port") << 10 << QByteArray() << "/dev/ttyUSB9" << "/dev/ttyS9";
}

void TestPlenko::comPortPaths()
{
    QFETCH(qint32, port);
    QFETCH(QByteArray, configured);
    QFETCH(QString, commandLine);
    QFETCH(QString, path);
    const QByteArray variable = "PLENKO_COM" + QByteArray::number(port);
    if (configured.isNull())
        qunsetenv(variable.constData());
    else
        qputenv(variable.constData(), configured);
    LinkEndpoints endpoints;
    endpoints.setComPath(port, commandLine);
    QCOMPARE(endpoints.serialPathFor(port), path);
    qunsetenv(variable.constData());
}

void TestPlenko::speedCodesReachTheLine_data()
{
    QTest::addColumn<qint32>("speedCode");
    QTest::addColumn<int>("termiosSpeed");
    QTest::newRow("0, none chosen yet") << 0 << int(B9600);
    QTest::newRow("1") << 1 << int(B19200);
    QTest::newRow("2") << 2 << int(B9600);
    QTest::newRow("3") << 3 << int(B4800);
    QTest::newRow("4") << 4 << int(B2400);
    QTest::newRow("5") << 5 << int(B38400);
}

void TestPlenko::speedCodesReachTheLine()
{
    QFETCH(qint32, speedCode);
    QFETCH(int, termiosSpeed);
    ScriptedPeer peer(Line::Pty);
    QVERIFY(peer.start(4));
    Plenko control;
    qint32 port = 4;
    QCOMPARE(control.OpenLink(port, speedCode, 1, 1).toInt(), qint32(Plenko::Opened));
    termios line{};
    QCOMPARE(::tcgetattr(peer.slaveFd(), &line), 0);
    QCOMPARE(int(cfgetospeed(&line)), termiosSpeed);
    QCOMPARE(int(cfgetispeed(&line)), termiosSpeed);
    QCOMPARE(int(line.c_cflag & CSIZE), int(CS8));
    QCOMPARE(int(line.c_cflag & (PARENB | CSTOPB | CRTSCTS)), 0);
    QCOMPARE(int(line.c_iflag & (IXON | IXOFF)), 0);
}

void TestPlenko::hangUpDoesNotSpin()
{
    ScriptedPeer peer(Line::Pty);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QCOMPARE(send(control, 0x46, {}, 0), qint32(Plenko::Accepted));
    QVERIFY(waitUntil([&] { return peer.commandBodies().size() == 1; }));
    peer.closeLine(); // the far side goes away under a running command
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::LinkLost);
    QCOMPARE(status(control), LinkStatus::NoLink);

    // The port is closed: no stream of read errors keeps the process busy.
    const double before = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    settle(500);
    const double used = processCpuSeconds() - before;
    QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s of CPU in %2 ms").arg(used).arg(wall.elapsed())));
}

void TestPlenko::serialErrors_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<bool>("endsLink");
    QTest::newRow("read error") << QSerialPort::ReadError << true;
    QTest::newRow("resource error") << QSerialPort::ResourceError << true;
    QTest::newRow("write error") << QSerialPort::WriteError << true;
    QTest::newRow("unknown error") << QSerialPort::UnknownError << true;
    QTest::newRow("no error") << QSerialPort::NoError << false;
    QTest::newRow("no modem lines") << QSerialPort::UnsupportedOperationError << false;
    QTest::newRow("timeout") << QSerialPort::TimeoutError << false;
}

void TestPlenko::serialErrors()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(bool, endsLink);
    ScriptedPeer peer(Line::Pty);
    QVERIFY(peer.start());
    Plenko control;
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QPointer<QSerialPort> port = control.findChild<QSerialPort *>();
    QVERIFY(port);
    QCOMPARE(send(control, 0x46, {}, 0), qint32(Plenko::Accepted));
    QVERIFY(waitUntil([&] { return peer.commandBodies().size() == 1; }));

    // Qt keeps a port open after a read error and repeats the report from its read notifier;
    // the first report must close it.
    emit port->errorOccurred(error);
    QCOMPARE(status(control), LinkStatus::Busy); // never inside the port's own notification
    if (!endsLink) {
        settle(50);
        QCOMPARE(status(control), LinkStatus::Busy);
        QVERIFY(port && port->isOpen());
        return;
    }
    QVERIFY(waitForEnd(control));
    QCOMPARE(control.ErrorCode().toInt(), LinkError::LinkLost);
    QCOMPARE(status(control), LinkStatus::NoLink);
    QVERIFY(!port || !port->isOpen());
}

void TestPlenko::connectTimesOutWithoutFreezing()
{
    SilentListener silent;
    if (silent.port() == 0)
        QSKIP("no loopback listener");
    qputenv("PLENKO_TCP_PORT", QByteArray::number(silent.port()));
    Plenko control;
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    qint32 address = kLoopback;
    qint32 speed = -1;
    const qint32 result = control.OpenLink(address, speed, -1, -1).toInt();
    const qint64 took = clock.elapsed();
    if (result == Plenko::ConnectionFailed)
        QSKIP("this kernel refuses instead of dropping connections to a full queue");
    QCOMPARE(result, qint32(Plenko::ConnectTimedOut));
    QVERIFY2(took < Plenko::kConnectTimeoutMs + 2000, qPrintable(QString::number(took)));
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks))); // other events ran during the wait
    QCOMPARE(status(control), LinkStatus::NoLink);
}

void TestPlenko::reentrantCallsDuringConnectWait_data()
{
    QTest::addColumn<QString>("during");
    QTest::addColumn<int>("outerResult");
    QTest::addColumn<int>("innerResult");
    QTest::addColumn<int>("statusAfter");
    QTest::newRow("CloseLink") << "close" << int(Plenko::ConnectInterrupted) << 0 << LinkStatus::NoLink;
    QTest::newRow("CloseLink then OpenLink elsewhere")
        << "close+open" << int(Plenko::ConnectInterrupted) << int(Plenko::Opened) << LinkStatus::Open;
    // The interrupted attempt's limit runs out while the handler still waits (as a settle wait
    // does); that must not tear down the link the handler opens afterwards.
    QTest::newRow("CloseLink, wait past the limit, OpenLink elsewhere")
        << "close+wait+open" << int(Plenko::ConnectInterrupted) << int(Plenko::Opened) << LinkStatus::Open;
    QTest::newRow("OpenLink again") << "open" << int(Plenko::ConnectTimedOut) << int(Plenko::AlreadyOpen)
                                    << LinkStatus::NoLink;
    QTest::newRow("SendCommand") << "send" << int(Plenko::ConnectTimedOut) << int(Plenko::LinkNotStarted)
                                 << LinkStatus::NoLink;
}

void TestPlenko::reentrantCallsDuringConnectWait()
{
    QFETCH(QString, during);
    QFETCH(int, outerResult);
    QFETCH(int, innerResult);
    QFETCH(int, statusAfter);
    SilentListener silent;
    if (silent.port() == 0)
        QSKIP("no loopback listener");
    ScriptedPeer peer(Line::Tcp);
    QVERIFY(peer.start());
    qputenv("PLENKO_TCP_PORT", QByteArray::number(silent.port()));
    Plenko control;
    int inner = -99;
    qint32 innerStatus = -99;
    QTimer::singleShot(100, &control, [&] {
        innerStatus = status(control);
        if (during.startsWith("close"))
            inner = control.CloseLink().toInt();
        if (during.contains("wait"))
            settle(Plenko::kConnectTimeoutMs + 300);
        if (during.endsWith("open")) {
            qputenv("PLENKO_TCP_PORT", QByteArray::number(peer.port()));
            qint32 address = kLoopback;
            qint32 speed = -1;
            inner = control.OpenLink(address, speed, -1, -1).toInt();
        }
        if (during == "send")
            inner = send(control, 0x22);
    });
    QElapsedTimer clock;
    clock.start();
    qint32 address = kLoopback;
    qint32 speed = -1;
    const qint32 outer = control.OpenLink(address, speed, -1, -1).toInt();
    if (outer == Plenko::ConnectionFailed)
        QSKIP("this kernel refuses instead of dropping connections to a full queue");
    QCOMPARE(innerStatus, LinkStatus::NoLink); // nothing usable while connecting
    QCOMPARE(outer, qint32(outerResult));
    QCOMPARE(inner, innerResult);
    if (outerResult == Plenko::ConnectInterrupted && !during.contains("wait"))
        QVERIFY2(clock.elapsed() < Plenko::kConnectTimeoutMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(status(control), statusAfter);
    if (statusAfter == LinkStatus::Open) {
        // The link opened from inside the wait is the one in use.
        control.StartLink(0);
        peer.replies = {kAck + response(0x20, "inner link")};
        QCOMPARE(send(control, 0x22), qint32(Plenko::Accepted));
        QVERIFY(waitForEnd(control));
        QCOMPARE(control.ResponseData().toByteArray(), QByteArray("inner link"));
    }
}

void TestPlenko::destroyedDuringConnectWait()
{
    SilentListener silent;
    if (silent.port() == 0)
        QSKIP("no loopback listener");
    qputenv("PLENKO_TCP_PORT", QByteArray::number(silent.port()));
    auto *control = new Plenko;
    QPointer<Plenko> watch(control);
    QTimer::singleShot(100, control, [control] { control->deleteLater(); });
    QElapsedTimer clock;
    clock.start();
    qint32 address = kLoopback;
    qint32 speed = -1;
    const qint32 result = control->OpenLink(address, speed, -1, -1).toInt();
    if (result == Plenko::ConnectionFailed)
        QSKIP("this kernel refuses instead of dropping connections to a full queue");
    QVERIFY(watch.isNull()); // deleted inside the wait, and the wait noticed
    QCOMPARE(result, qint32(Plenko::ConnectInterrupted));
    QVERIFY(clock.elapsed() < Plenko::kConnectTimeoutMs);
}

// The connection comes up, but a handler that runs in the same turn of the event loop waits in a
// loop of its own, and the peer hangs up meanwhile: the link is gone before OpenLink returns.
void TestPlenko::connectionLostBeforeConnectWaitReturns()
{
    ScriptedPeer peer(Line::Tcp);
    QVERIFY(peer.start());
    qputenv("PLENKO_TCP_PORT", QByteArray::number(peer.port()));
    Plenko control;
    bool handlerRan = false;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        auto *transport = control.findChild<TcpTransport *>();
        QVERIFY(transport);
        connect(transport, &TcpTransport::connected, &context, [&] {
            handlerRan = true;
            QVERIFY(waitUntil([&] { return peer.lineOpen(); }));
            peer.closeLine();
            settle(300);
        });
    });
    qint32 address = kLoopback;
    qint32 speed = -1;
    const qint32 result = control.OpenLink(address, speed, -1, -1).toInt();
    QVERIFY(handlerRan);
    QCOMPARE(result, qint32(Plenko::ConnectionFailed));
    QCOMPARE(status(control), LinkStatus::NoLink);
    QCOMPARE(control.StartLink(0).toInt(), qint32(Plenko::NothingOpen));
    QCOMPARE(send(control, 0x22), qint32(Plenko::LinkNotStarted));
    // Nothing is left behind: the next OpenLink works.
    QCOMPARE(openTo(control, peer), qint32(Plenko::Opened));
    QCOMPARE(status(control), LinkStatus::Idle);
}

QTEST_GUILESS_MAIN(TestPlenko)
#include "tst_plenko.moc"
