#include "control/CardControl.h"
#include "control/CommandExchange.h"
#include "ManualClock.h"
#include "MemoryTransport.h"

#include <QTest>

// The command exchange over an in-memory line, on a clock the test advances: every interleaving of
// a command with what an earlier one left on the line, to the millisecond, and the role each byte
// is given in the record. Bytes are written out as they go over the line.

namespace {

struct Step
{
    enum Kind { Start, Feed, Advance, Abandon, Sent, Running, Ended } kind;
    QByteArray bytes; // Start: code and parameter; Feed, Sent: the line's bytes; Ended: the data
    int value = 0;    // Start: time-out; Advance: ms; Ended: error code
};

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}
Step start(const char *body, int timeoutMs) { return {Step::Start, hex(body), timeoutMs}; }
Step feed(const char *bytes) { return {Step::Feed, hex(bytes), 0}; }
Step advance(int ms) { return {Step::Advance, {}, ms}; }
Step abandon() { return {Step::Abandon, {}, 0}; }
Step sent(const char *bytes) { return {Step::Sent, hex(bytes), 0}; }
Step nothingSent() { return {Step::Sent, {}, 0}; }
Step running() { return {Step::Running, {}, 0}; }
// Every answer below carries status 20: a command that ended without one has response code 0.
Step ended(int errorCode, const char *data = "") { return {Step::Ended, QByteArray(data), errorCode}; }

// What the exchange tells, in the test's own words.
class Told : public LinkEvents
{
public:
    QStringList lines;

    void commandStarted(const CommandRequest &request) override
    {
        lines << QStringLiteral("started %1").arg(request.code, 2, 16, QLatin1Char('0'));
    }
    void sent(FrameRole role, QByteArrayView) override { lines << QStringLiteral("out ") + name(role); }
    void received(FrameRole role, QByteArrayView) override { lines << QStringLiteral("in ") + name(role); }
    void frameReceived(FrameRole role, QByteArrayView) override { lines << QStringLiteral("in ") + name(role); }
    void resent(int send, int) override { lines << QStringLiteral("resend %1").arg(send); }
    void settling() override { lines << QStringLiteral("settle"); }
    void commandEnded(quint8, const CommandResult &result, qint64) override
    {
        lines << QStringLiteral("end %1").arg(result.errorCode);
    }

private:
    static QString name(FrameRole role)
    {
        switch (role) {
        case FrameRole::Command: return QStringLiteral("command");
        case FrameRole::Ack: return QStringLiteral("ACK");
        case FrameRole::Nak: return QStringLiteral("NAK");
        case FrameRole::Response: return QStringLiteral("response");
        case FrameRole::LateFrame: return QStringLiteral("late frame");
        case FrameRole::BadFrame: return QStringLiteral("bad frame");
        case FrameRole::Stray: return QStringLiteral("stray");
        case FrameRole::Dropped: return QStringLiteral("dropped");
        }
        return QStringLiteral("?");
    }
};

// Frames used below: 22 and 22 'x' out; 20 "OK", 20 "OLD", 20 "NEW" in.
const char *const kCmd22 = "02 00 01 22 03 20";
const char *const kCmd22x = "02 00 02 22 78 03 5b";
const char *const kOk = "02 00 03 20 4f 4b 03 24";
const char *const kOkDamaged = "02 00 03 20 4f 4b 03 25";
const char *const kOld = "02 00 04 20 4f 4c 44 03 60";
const char *const kNew = "02 00 04 20 4e 45 57 03 7b";

QByteArray cat(std::initializer_list<const char *> parts)
{
    QByteArray all;
    for (const char *part : parts)
        all += QByteArray(part) + ' ';
    return all;
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TestCommandExchange : public QObject
{
    Q_OBJECT
private slots:
    void interleavings_data();
    void interleavings();
};

void TestCommandExchange::interleavings_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QStringList>("told");

    const QByteArray ackOk = cat({"06", kOk});
    const QByteArray ackNew = cat({"06", kNew});

    QTest::newRow("answered") << QList<Step>{start("22", 1000), sent(kCmd22), feed(ackOk), sent("06"), ended(0, "OK")}
                              << QStringList{"started 22", "out command", "in ACK", "in response", "out ACK", "end 0"};

    QTest::newRow("stray bytes before the answer")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed(cat({"41 42", "06", kOk})), sent("06"), ended(0, "OK")}
        << QStringList{"started 22", "out command", "in stray", "in ACK", "in response", "out ACK", "end 0"};

    // Noise around the ACK, as a line that picked something up on the way shows it.
    QTest::newRow("stray bytes around the ACK")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed(cat({"7a 7a 06 7f 00 6e 6f 69 73 65", kOk})), sent("06"),
                       ended(0, "OK")}
        << QStringList{"started 22", "out command", "in stray", "in ACK", "in stray", "in response", "out ACK",
                       "end 0"};

    QTest::newRow("refused once, then accepted")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed("15"), sent(kCmd22), feed(ackOk), sent("06"),
                       ended(0, "OK")}
        << QStringList{"started 22", "out command", "in NAK", "resend 2", "out command", "in ACK", "in response",
                       "out ACK", "end 0"};

    QTest::newRow("refused twice, then accepted")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed("15"), sent(kCmd22), feed("15"), sent(kCmd22),
                       feed(ackOk), sent("06"), ended(0, "OK")}
        << QStringList{"started 22", "out command", "in NAK", "resend 2", "out command", "in NAK", "resend 3",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    // A command that failed with its answers all in leaves a quiet line: the next goes out at once.
    QTest::newRow("refused three times")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed("15"), sent(kCmd22), feed("15"), sent(kCmd22),
                       feed("15"), nothingSent(), ended(LinkError::Refused), start("2278", 1000), sent(kCmd22x),
                       feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in NAK", "resend 2", "out command", "in NAK",
                       "resend 3", "out command", "in NAK", "end 104", "started 22", "out command", "in ACK",
                       "in response", "out ACK", "end 0"};

    QTest::newRow("one damaged answer, then a sound one")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed("06"), feed(kOkDamaged), sent("15"), running(),
                       feed(kOk), sent("06"), ended(0, "OK")}
        << QStringList{"started 22", "out command", "in ACK", "in bad frame", "out NAK", "in response", "out ACK",
                       "end 0"};

    QTest::newRow("three damaged answers")
        << QList<Step>{start("22", 1000), sent(kCmd22), feed("06"), feed(kOkDamaged), sent("15"), running(),
                       feed(kOkDamaged), sent("15"), feed(kOkDamaged), sent("15"), ended(LinkError::BadResponse),
                       start("2278", 1000), sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "in bad frame", "out NAK", "in bad frame",
                       "out NAK", "in bad frame", "out NAK", "end 105", "started 22", "out command", "in ACK",
                       "in response", "out ACK", "end 0"};

    QTest::newRow("time-out to the millisecond")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06"), advance(149), running(), advance(1),
                       ended(LinkError::TimedOut), start("2278", 1000), sent(kCmd22x), feed(ackNew), sent("06"),
                       ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "out command", "in ACK",
                       "in response", "out ACK", "end 0"};

    // No ACK at all: it may yet come, so the next frame waits for a quiet line.
    QTest::newRow("no answer")
        << QList<Step>{start("22", 300), sent(kCmd22), advance(299), running(), advance(1),
                       ended(LinkError::TimedOut), start("2278", 1000), nothingSent(), advance(19), nothingSent(),
                       advance(1), sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "end 107", "started 22", "settle", "out command", "in ACK",
                       "in response", "out ACK", "end 0"};

    // LEN promises 16 bytes and two come: the time-out ends it, and the frame it began is forgotten.
    QTest::newRow("length promises more than follows")
        << QList<Step>{start("22", 300), sent(kCmd22), feed("06 02 00 10 20 41 42"), advance(300),
                       ended(LinkError::TimedOut), start("2278", 1000), nothingSent(), advance(20), sent(kCmd22x),
                       feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "settle", "out command",
                       "in ACK", "in response", "out ACK", "end 0"};

    // The answer comes after its command timed out with the ACK in: the line is quiet, so the
    // next frame goes out at once.
    QTest::newRow("late answer while idle")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06"), advance(150), ended(LinkError::TimedOut),
                       advance(250), feed(kOld), sent("06"), ended(LinkError::TimedOut), start("2278", 1000),
                       sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "in late frame", "out ACK",
                       "started 22", "out command", "in ACK", "in response", "out ACK", "end 0"};

    // ... or just before the next command's ACK: not acknowledged (that ACK could reach the device
    // after it has sent the next answer) and not taken for the next command's.
    QTest::newRow("late answer across the next frame")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06"), advance(150), ended(LinkError::TimedOut),
                       start("2278", 1000), sent(kCmd22x), feed(kOld), nothingSent(), running(), feed(ackNew),
                       sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "out command",
                       "in late frame", "in ACK", "in response", "out ACK", "end 0"};

    QTest::newRow("late answer and the next answer in one piece")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06"), advance(150), ended(LinkError::TimedOut),
                       start("2278", 1000), sent(kCmd22x), feed(cat({kOld, "06", kNew})), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "out command",
                       "in late frame", "in ACK", "in response", "out ACK", "end 0"};

    QTest::newRow("damaged late frame before the next ACK")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06"), advance(150), ended(LinkError::TimedOut),
                       start("2278", 1000), sent(kCmd22x), feed(kOkDamaged), nothingSent(), feed(ackNew),
                       sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "out command",
                       "in bad frame", "in ACK", "in response", "out ACK", "end 0"};

    // A frame cut off by the time-out: its rest comes while the next command waits for a quiet
    // line (20 ms after the last byte), and is dropped rather than read as a frame start.
    QTest::newRow("cut frame, rest while the next waits")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06 02 00 28 20"), advance(150),
                       ended(LinkError::TimedOut), start("2278", 1000), nothingSent(), advance(10),
                       feed("41 42 02 00 30"), advance(19), nothingSent(), advance(1), sent(kCmd22x),
                       feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "started 22", "settle", "in dropped",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    // ... or while the control is idle, long after. Its bytes hold what looks like a frame start (an
    // STX in the data, or as the last byte), which must not take the next ACK for a length and the
    // next answer for a body; the next frame waits for a quiet line, and reading starts afresh.
    QTest::newRow("cut frame, rest with an STX while idle")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06 02 00 28 20"), advance(150),
                       ended(LinkError::TimedOut), advance(250), feed("41 42 02 00 30 43 44"),
                       ended(LinkError::TimedOut), advance(300), start("2278", 2000), nothingSent(), advance(20),
                       sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "in stray", "started 22", "settle",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    QTest::newRow("cut frame, rest ending in an STX while idle")
        << QList<Step>{start("22", 150), sent(kCmd22), feed("06 02 00 28 20"), advance(150),
                       ended(LinkError::TimedOut), advance(250), feed("58 59 03 02"), ended(LinkError::TimedOut),
                       advance(300), start("2278", 2000), nothingSent(), advance(20), sent(kCmd22x), feed(ackNew),
                       sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 107", "in stray", "started 22", "settle",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    // Timed out before its ACK: the ACK and answer, held up on the line, are the old command's.
    QTest::newRow("held-up ACK and answer")
        << QList<Step>{start("22", 100), sent(kCmd22), advance(100), ended(LinkError::TimedOut),
                       start("2278", 1000), advance(5), feed(cat({"06", kOld})), advance(19), nothingSent(),
                       advance(1), sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "end 107", "started 22", "settle", "in dropped",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    QTest::newRow("held-up NAK")
        << QList<Step>{start("22", 100), sent(kCmd22), advance(100), ended(LinkError::TimedOut),
                       start("2278", 1000), advance(5), feed("15"), advance(20), sent(kCmd22x), feed(ackNew),
                       sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "end 107", "started 22", "settle", "in dropped",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};

    // A line that never falls quiet holds the frame back 100 ms at most: bytes up to 99 ms into the
    // wait put the gap off, later ones do not (the last put-off, at 90 ms, runs out at 110 ms).
    QList<Step> busy{start("22", 100), sent(kCmd22), advance(100), ended(LinkError::TimedOut), start("2278", 1000)};
    for (int i = 0; i < 10; ++i)
        busy << advance(10) << feed("41");
    busy << advance(9) << nothingSent() << advance(1) << sent(kCmd22x) << feed(ackNew) << ended(0, "NEW");
    QStringList busyTold{"started 22", "out command", "end 107", "started 22", "settle"};
    for (int i = 0; i < 10; ++i)
        busyTold << "in dropped";
    busyTold << "out command" << "in ACK" << "in response" << "out ACK" << "end 0";
    QTest::newRow("quiet wait capped") << busy << busyTold;

    QList<Step> late{start("22", 100), sent(kCmd22), advance(100), ended(LinkError::TimedOut), start("2278", 1000)};
    for (int i = 0; i < 9; ++i)
        late << advance(10) << feed("41");
    late << advance(9) << feed("41") << advance(19) << nothingSent() << advance(1) << sent(kCmd22x);
    QStringList lateTold{"started 22", "out command", "end 107", "started 22", "settle"};
    for (int i = 0; i < 10; ++i)
        lateTold << "in dropped";
    lateTold << "out command";
    QTest::newRow("quiet wait put off at 99 ms") << late << lateTold;

    // Given up half-way through the answer: its rest is noise for the next command.
    QTest::newRow("abandoned mid-answer")
        << QList<Step>{start("22", 0), sent(kCmd22), feed("06 02 00 04 20"), abandon(),
                       ended(LinkError::Aborted), start("2278", 0), nothingSent(), feed("4f 4c 44 03 60"),
                       advance(20), sent(kCmd22x), feed(ackNew), sent("06"), ended(0, "NEW")}
        << QStringList{"started 22", "out command", "in ACK", "end 106", "started 22", "settle", "in dropped",
                       "out command", "in ACK", "in response", "out ACK", "end 0"};
}

void TestCommandExchange::interleavings()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QStringList, told);

    Told events;
    ManualClock clock;
    MemoryTransport line;
    CommandExchange exchange(events, clock);
    exchange.setTransport(&line);
    exchange.setReportStray(true);

    for (int i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        const QByteArray where = "step " + QByteArray::number(i + 1);
        switch (step.kind) {
        case Step::Start: {
            QVERIFY2(!exchange.isRunning(), where);
            CommandRequest request;
            request.code = quint8(step.bytes.at(0));
            request.parameter = step.bytes.mid(1);
            request.timeoutMs = step.value;
            exchange.start(request);
            break;
        }
        case Step::Feed:
            line.feed(step.bytes);
            break;
        case Step::Advance:
            clock.advance(step.value);
            break;
        case Step::Abandon:
            exchange.abandon();
            break;
        case Step::Sent:
            QVERIFY2(line.takeSent() == step.bytes, where);
            break;
        case Step::Running:
            QVERIFY2(exchange.isRunning(), where);
            break;
        case Step::Ended:
            QVERIFY2(!exchange.isRunning(), where);
            QCOMPARE(exchange.outcome().errorCode, step.value);
            QCOMPARE(exchange.outcome().data, step.bytes);
            QCOMPARE(exchange.outcome().responseCode, step.value == 0 ? 0x20 : 0);
            break;
        }
    }
    QCOMPARE(events.lines, told);
}

QTEST_GUILESS_MAIN(TestCommandExchange)
#include "tst_commandexchange.moc"
