#include "transport/LinkEndpoints.h"
#include "control/LinkJournal.h"
#include "control/LinkMeaning.h"
#include "control/Plenko.h"
#include "ScriptedPeer.h"
#include "TestHelpers.h"
#include "transport/TcpTransport.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// What the control tells about its link: the meaning of every number it produces, the journal
// of a session (read back and held against the emulator's own trace), and the diagnostics of a
// port that does not open.

using Line = ScriptedPeer::Line;
Q_DECLARE_METATYPE(ScriptedPeer::Line)

namespace {

// Messages of the brindle.link category, captured while an instance lives.
class LinkMessages
{
public:
    LinkMessages() { s_lines.clear(); m_previous = qInstallMessageHandler(&LinkMessages::handle); }
    ~LinkMessages() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines; }

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &text)
    {
        if (QLatin1String(context.category) == QLatin1String("brindle.link"))
            s_lines << text;
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

struct JournalLine
{
    QString link, direction, kind;
    QByteArray bytes;
};

// The journal's byte lines, in the trace's notation after the time stamp.
QList<JournalLine> journalBytes(const QByteArray &journal)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\S+) (?:s\d+\.\d+ )?(in|out|--) (\S+) (.*)$)"));
    QList<JournalLine> lines;
    for (const QByteArray &raw : journal.split('\n')) {
        if (raw.isEmpty())
            continue;
        const QRegularExpressionMatch match = form.match(QString::fromUtf8(raw));
        if (!match.hasMatch()) {
            qWarning("not a journal line: %s", raw.constData());
            return {};
        }
        if (match.captured(2) == QLatin1String("--"))
            continue;
        const QString rest = match.captured(4);
        lines.append({match.captured(1), match.captured(2), match.captured(3),
                      QByteArray::fromHex(rest.left(rest.indexOf(QLatin1String(" |"))).toLatin1())});
    }
    return lines;
}

qint32 openTo(Plenko &control, LinkEndpoints &endpoints, const EmulatorProcess &emulator, Line line)
{
    if (line == Line::Tcp) {
        endpoints.setTcpPort(emulator.tcpPort());
        qint32 address = qint32(0x7F000001), speed = -1;
        return control.OpenLink(address, speed, -1, -1).toInt();
    }
    endpoints.setComPath(1, emulator.ptyPath());
    qint32 port = 1, speed = 5;
    return control.OpenLink(port, speed, 1, 1).toInt();
}

bool run(Plenko &control, qint32 code, QByteArray parameter = {})
{
    qint32 timeout = 5000;
    bool dsr = false;
    if (control.SendCommand(code, parameter, timeout, dsr).toInt() != 0)
        return false;
    return waitUntil([&] { return control.CommStatus().toInt() != LinkStatus::Busy; }, 10000);
}

} // namespace

class TestLinkRecord : public QObject
{
    Q_OBJECT
private slots:
    void everyNumberHasAMeaning_data();
    void everyNumberHasAMeaning();
    void journalOfASession_data();
    void journalOfASession();
    void journalOnAFullDisk();
    void portThatDoesNotOpen_data();
    void portThatDoesNotOpen();
    void lossDuringTheConnectWait_data();
    void lossDuringTheConnectWait();
};

void TestLinkRecord::everyNumberHasAMeaning_data()
{
    QTest::addColumn<QString>("meaning");
    QTest::addColumn<QString>("unknown"); // what the table says of a number it does not hold
    const qint32 none = -12345;
    for (qint32 result = Plenko::Opened; result <= Plenko::ConnectInterrupted; ++result)
        QTest::addRow("OpenLink %d", result) << LinkMeaning::openResult(result) << LinkMeaning::openResult(none);
    for (qint32 result = Plenko::Accepted; result <= Plenko::ParameterTooLong; ++result)
        QTest::addRow("SendCommand %d", result) << LinkMeaning::sendResult(result) << LinkMeaning::sendResult(none);
    for (qint32 error : {LinkError::None, LinkError::DsrInactive, LinkError::LinkLost, LinkError::Refused,
                         LinkError::BadResponse, LinkError::Aborted, LinkError::TimedOut})
        QTest::addRow("ErrorCode %d", error) << LinkMeaning::errorCode(error) << LinkMeaning::errorCode(none);
    for (quint8 status = DeviceStatus::Normal; status <= DeviceStatus::BufferFull;
         status = status == DeviceStatus::Normal ? DeviceStatus::NoCard : status + 1)
        QTest::addRow("status %02x", status) << LinkMeaning::responseStatus(status)
                                             << LinkMeaning::responseStatus(none);
}

void TestLinkRecord::everyNumberHasAMeaning()
{
    QFETCH(QString, meaning);
    QFETCH(QString, unknown);
    QVERIFY(!meaning.isEmpty());
    QVERIFY(meaning != unknown);
}

void TestLinkRecord::journalOfASession_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<int>("existingMode"); // of a journal file there before; -1: none
    QTest::newRow("tcp") << Line::Tcp << -1;
    QTest::newRow("pty") << Line::Pty << -1;
    QTest::newRow("tcp, existing file") << Line::Tcp << 0640;
}

// Every byte the journal says went out is what the emulator says came in, in the same order and
// role, and the other way round. A new journal is private to its owner even under umask 022 (it
// holds card contents); an existing one keeps its mode.
void TestLinkRecord::journalOfASession()
{
    QFETCH(Line, line);
    QFETCH(int, existingMode);
    EmulatorProcess emulator({line == Line::Pty, {"--time-scale", "0", "--reinsert-ms", "0", "--fault", "bad-bcc-once"}});
    QVERIFY2(emulator.start(), qPrintable(emulator.errorText()));
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("journal.log"));
    if (existingMode >= 0) {
        QVERIFY(QFile(dir.filePath("journal.log")).open(QIODevice::WriteOnly));
        QVERIFY(::chmod(path.constData(), mode_t(existingMode)) == 0);
    }
    LinkJournal journal;
    const mode_t savedMask = ::umask(022);
    QVERIFY(journal.open(dir.filePath("journal.log"), nullptr));
    ::umask(savedMask);
    struct stat status {};
    QVERIFY(::stat(path.constData(), &status) == 0);
    QCOMPARE(status.st_mode & 07777, mode_t(existingMode >= 0 ? existingMode : 0600));
    LinkEndpoints endpoints;
    Plenko control(endpoints);
    control.setJournal(&journal);
    QCOMPARE(openTo(control, endpoints, emulator, line), qint32(Plenko::Opened));
    control.StartLink(0);
    QVERIFY(run(control, DeviceCommand::MagneticData, "%ABC?"));
    QVERIFY(run(control, DeviceCommand::MagneticWrite, "2"));
    QVERIFY(run(control, DeviceCommand::MagneticRead));
    QCOMPARE(control.ResponseData().toByteArray(), QByteArray("%ABC?"));
    // Closing resets the connection, which throws away what the emulator has not read yet.
    const auto journalOutLines = [&] {
        QFile file(dir.filePath("journal.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().count(" out ") : -1;
    };
    QTRY_VERIFY(emulator.trace().count(" in ") >= journalOutLines()); // the trace file is polled
    control.StopLink();
    control.CloseLink();

    QFile file(dir.filePath("journal.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const QList<JournalLine> journalLines = journalBytes(text);
    QVERIFY(!journalLines.isEmpty());
    QCOMPARE(text.count(" -- command "), 3);
    QCOMPARE(text.count(" -- end "), 3);
    QVERIFY(text.contains(" -- open "));
    QVERIFY(text.contains(" -- close "));
    QVERIFY(text.contains("status 20 (normal completion), result 0"));
    QVERIFY(text.contains("text \"%ABC?\""));

    QList<QByteArray> journalOut, journalIn, traceIn, traceOut;
    for (const JournalLine &entry : journalLines)
        (entry.direction == QLatin1String("out") ? journalOut : journalIn) << entry.bytes;
    emulator.stop();
    for (const EmulatorProcess::TraceEntry &entry : emulator.traceEntries()) {
        if (entry.direction == QLatin1String("in"))
            traceIn << entry.bytes;
        else if (entry.direction == QLatin1String("out"))
            traceOut << entry.bytes;
    }
    QCOMPARE(journalOut, traceIn);
    QCOMPARE(journalIn, traceOut);
    // Each damaged first answer shows as such, and the NAK that asked for it again.
    int badFrames = 0;
    for (const JournalLine &entry : journalLines)
        badFrames += entry.kind == QLatin1String("bad-frame");
    QCOMPARE(badFrames, 3);
}

void TestLinkRecord::journalOnAFullDisk()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full here");
    LinkJournal journal;
    QVERIFY(journal.open("/dev/full", nullptr));
    QTemporaryDir dir;
    // Standard error into a file for the length of the write, to count what was said.
    const int savedError = ::dup(STDERR_FILENO);
    QFile captured(dir.filePath("stderr"));
    QVERIFY(captured.open(QIODevice::ReadWrite));
    ::dup2(captured.handle(), STDERR_FILENO);
    journal.event(Journal::Kind::Open, "one");
    journal.event(Journal::Kind::Close, "two");
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    QVERIFY(!journal.isOpen());
    captured.seek(0);
    const QByteArray said = captured.readAll();
    QCOMPARE(said.count('\n'), 1);
    QVERIFY2(said.contains("/dev/full") && said.contains("No space left on device"), said.constData());
}

void TestLinkRecord::portThatDoesNotOpen_data()
{
    QTest::addColumn<bool>("permission"); // false: the device is missing
    QTest::newRow("missing") << false;
    QTest::newRow("not allowed") << true;
}

// One line per failed open, naming the path and the system's reason, and nothing for the commands
// refused after it. A port this user may not open needs a user other than root.
void TestLinkRecord::portThatDoesNotOpen()
{
    QFETCH(bool, permission);
    QTemporaryDir dir;
    QString path = dir.filePath("nonexistent-tty");
    if (permission) {
        if (qEnvironmentVariableIsSet("LINKRECORD_DEVICE")) {
            path = qEnvironmentVariable("LINKRECORD_DEVICE"); // the unprivileged run below
        } else if (::geteuid() == 0) {
            const QString setpriv = QStandardPaths::findExecutable("setpriv");
            const passwd *nobody = ::getpwnam("nobody");
            if (setpriv.isEmpty() || !nobody)
                QSKIP("running as root, and no setpriv or no user nobody to run the case as another user");
            QFile device(dir.filePath("ttyLocked"));
            QVERIFY(device.open(QIODevice::WriteOnly));
            device.close();
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                  | QFile::ReadOther | QFile::ExeOther);
            const group *dialout = ::getgrnam("dialout");
            if (dialout)
                QVERIFY(::chown(QFile::encodeName(device.fileName()).constData(), 0, dialout->gr_gid) == 0);
            QFile::setPermissions(device.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                         | QFile::WriteGroup);
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("LINKRECORD_DEVICE", device.fileName());
            environment.insert("HOME", "/tmp");
            child.setProcessEnvironment(environment);
            child.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
                                  QCoreApplication::applicationFilePath(), "portThatDoesNotOpen:not allowed"});
            QVERIFY(child.waitForFinished(30000));
            const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
            if (out.contains("Permission denied") && out.contains("Cannot") && !out.contains("PASS"))
                QSKIP("user nobody cannot run this test program here (its folder is closed to other users)");
            QVERIFY2(child.exitCode() == 0, out.constData());
            QVERIFY2(out.contains("PASS   : TestLinkRecord::portThatDoesNotOpen(not allowed)"), out.constData());
            return;
        } else {
            QFile device(dir.filePath("ttyLocked"));
            QVERIFY(device.open(QIODevice::WriteOnly));
            device.close();
            QFile::setPermissions(device.fileName(), QFile::ReadOwner);
            path = device.fileName();
        }
    }

    LinkMessages messages;
    LinkEndpoints endpoints;
    endpoints.setComPath(4, path);
    Plenko control(endpoints);
    qint32 port = 4, speed = 2;
    const qint32 result = control.OpenLink(port, speed, 1, 1).toInt();
    QCOMPARE(result, permission ? qint32(Plenko::CannotOpen) : qint32(Plenko::NoSuchPort));
    control.StartLink(0);
    for (int i = 0; i < 3; ++i) {
        qint32 code = 0x22, timeout = 1000;
        QByteArray parameter;
        bool dsr = true;
        QCOMPARE(control.SendCommand(code, parameter, timeout, dsr).toInt(), qint32(Plenko::LinkNotStarted));
    }

    QCOMPARE(messages.lines().size(), 1);
    const QString said = messages.lines().first();
    QVERIFY2(said.contains(path) && said.contains("COM4") && said.contains("9600 bit/s"), qPrintable(said));
    QVERIFY2(said.contains(permission ? "Permission denied" : "No such file or directory"), qPrintable(said));
    QVERIFY2(said.contains(permission ? "" : "--list-ports"), qPrintable(said));
    if (permission && ::getgrnam("dialout") && ::geteuid() != 0 && qEnvironmentVariableIsSet("LINKRECORD_DEVICE"))
        QVERIFY2(said.contains("usermod -aG dialout"), qPrintable(said));
    QCOMPARE(control.lastOpenFailure(), permission ? QStringLiteral("Permission denied")
                                                   : QStringLiteral("No such file or directory"));
}

void TestLinkRecord::lossDuringTheConnectWait_data()
{
    QTest::addColumn<bool>("hadALink"); // the control had another link open and closed before
    QTest::newRow("first link") << false;
    QTest::newRow("after another link") << true;
}

// The connection comes up, but a handler that runs in the connect wait's last turn waits in a loop
// of its own while the far end hangs up: the loss is told before OpenLink returns, and it names
// the link being connected, not one the control had before (or none).
void TestLinkRecord::lossDuringTheConnectWait()
{
    QFETCH(bool, hadALink);
    ScriptedPeer before(Line::Tcp);
    ScriptedPeer peer(Line::Tcp);
    QVERIFY(before.start());
    QVERIFY(peer.start());
    LinkEndpoints endpoints;
    Plenko control(endpoints);
    qint32 address = qint32(0x7F000001), speed = -1;
    if (hadALink) {
        endpoints.setTcpPort(before.port());
        QCOMPARE(control.OpenLink(address, speed, -1, -1).toInt(), qint32(Plenko::Opened));
        QPointer<LinkTransport> old = control.findChild<LinkTransport *>();
        control.CloseLink();
        // Gone before the next link's wait, so that the handler below finds the new transport.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(old.isNull());
    }

    LinkMessages messages;
    endpoints.setTcpPort(peer.port());
    const QString link = QStringLiteral("127.0.0.1 port %1").arg(peer.port());
    bool handlerRan = false;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        auto *transport = control.findChild<TcpTransport *>();
        QVERIFY(transport);
        connect(transport, &TcpTransport::connected, &context, [&] {
            handlerRan = true;
            QVERIFY(waitUntil([&] { return peer.lineOpen(); }));
            peer.closeLine();
            QVERIFY(waitUntil([&] { return !messages.lines().isEmpty(); }));
        });
    });
    QCOMPARE(control.OpenLink(address, speed, -1, -1).toInt(), qint32(Plenko::ConnectionFailed));
    QVERIFY(handlerRan);
    QCOMPARE(messages.lines().size(), 2);
    QCOMPARE(messages.lines().at(0), link + QStringLiteral(" lost: the device closed the connection"));
    QVERIFY2(messages.lines().at(1).startsWith(link + QStringLiteral(" does not open: the connection dropped as soon "
                                                                      "as it was made (OpenLink result 3")),
             qPrintable(messages.lines().at(1)));
}

QTEST_GUILESS_MAIN(TestLinkRecord)
#include "tst_linkrecord.moc"
