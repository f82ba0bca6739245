// The fault matrix: every way the line or the device can fail, over loopback TCP and over a
// pseudo-terminal, each against kestra-emu misbehaving in that way. The operator's side is the
// real window with the real card control: a free command sent with cmd_Send, then what the
// response boxes show, what the control reports, how long the command took, and that the next
// command works.
#include "E2eWait.h"
#include "transport/ModemLines.h"
#include "control/Plenko.h"
#include "TestHelpers.h"
#include "frmMain.h"
#include "frm_IP.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <ctime>

namespace {

enum class Line { Tcp, Pty };

// What happens around the faulted command besides the command itself.
enum class Scenario {
    Plain,      // the command alone
    Late,       // the late answer arrives after the time-out, before the next command
    LinkClosed, // the line is gone afterwards; the next command needs the link opened again
    Reconnect,  // a reconnection runs while the command waits
};

constexpr qint32 kLoopback = 0x7F000001;

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

class InactiveDsr : public ModemLines
{
public:
    std::optional<bool> dsrActive() override { return false; }
};

} // namespace

Q_DECLARE_METATYPE(Line)
Q_DECLARE_METATYPE(Scenario)

class TestFaultMatrix : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void matrix_data();
    void matrix();

private:
    bool startEmulator(Line line, const QStringList &faultArgs);
    bool openLink(Line line);
    // Types a free command and clicks cmd_Send; the click returns when the command has ended.
    qint64 send(const QString &code, const QString &parameter, const QString &timeout, bool dsr);
    QStringList shown() const;
    bool allGatedEnabled() const;
    QLineEdit *edit(const char *name) const { return m_window->findChild<QLineEdit *>(name); }

    std::unique_ptr<EmulatorProcess> m_emu;
    std::unique_ptr<frmMain> m_window;
    Plenko *m_plenko = nullptr;
    QStringList m_messages;
};

void TestFaultMatrix::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU"))
        QSKIP("KESTRA_EMU does not name the emulator (run through CTest)");
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void TestFaultMatrix::cleanup()
{
    m_window.reset();
    m_plenko = nullptr;
    m_emu.reset();
    m_messages.clear();
}

bool TestFaultMatrix::startEmulator(Line line, const QStringList &faultArgs)
{
    EmulatorProcess::Options options;
    options.pty = line == Line::Pty;
    options.extraArgs = QStringList{"--time-scale", "0", "--reinsert-ms", "0"} + faultArgs;
    m_emu = std::make_unique<EmulatorProcess>(options);
    if (!m_emu->start()) {
        qWarning("%s", qPrintable(m_emu->errorText()));
        return false;
    }
    qputenv("PLENKO_TCP_PORT", QByteArray::number(m_emu->tcpPort()));
    qputenv("PLENKO_COM1", m_emu->ptyPath().toLocal8Bit());
    return true;
}

bool TestFaultMatrix::openLink(Line line)
{
    qint32 port = line == Line::Tcp ? kLoopback : 1;
    qint32 speed = line == Line::Tcp ? -1 : 5;
    const qint32 mode = line == Line::Tcp ? -1 : 1;
    return variantToInt32(m_plenko->OpenLink(port, speed, mode, mode)) == 0
           && variantToInt32(m_plenko->StartLink(0)) == 0;
}

qint64 TestFaultMatrix::send(const QString &code, const QString &parameter, const QString &timeout, bool dsr)
{
    edit("txt_UserCommand")->setText(code);
    edit("txt_UserParameter")->setText(parameter);
    edit("txt_UserTimeout")->setText(timeout);
    m_window->findChild<QRadioButton *>(dsr ? "opt_DSR" : "opt_NoDSR")->setChecked(true);
    QElapsedTimer clock;
    clock.start();
    m_window->findChild<QPushButton *>("cmd_Send")->click();
    return clock.elapsed();
}

QStringList TestFaultMatrix::shown() const
{
    return {edit("dis_Cmd")->text(), edit("dis_Code")->text(), edit("dis_KestraData")->text(),
            edit("dis_Ocx")->text()};
}

bool TestFaultMatrix::allGatedEnabled() const
{
    for (const char *name : {"cmdRewrite", "cmdMagwrite", "cmd_Reset", "cmd_Clear", "cmd_Exit",
                             "cmd_Erase", "cmd_Send", "cmd_Mg2Read", "cmdEnd"}) {
        if (!m_window->findChild<QPushButton *>(name)->isEnabled())
            return false;
    }
    return true;
}

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<bool>("dsr");
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("responseCode");
    QTest::addColumn<QStringList>("display"); // dis_Cmd, dis_Code, dis_KestraData, dis_Ocx

    // The faulted command is a magnetic read of the emulator's blank stripe: when it gets
    // through, the device answers 0x33 (read error), which cannot be mistaken for the answer
    // to the next command (0x20).
    const QStringList timedOut{"&h 22", "", "", "1"};
    const QStringList failed{"&h 22", "", "", "-1"};
    const QStringList answered{"&h 22", "&H 33", "", "-1"};
    const auto once = [](const char *mode, int count = 1) {
        return QStringList{"--fault", QString::fromLatin1(mode), "--fault-count", QString::number(count)};
    };
    for (Line line : {Line::Tcp, Line::Pty}) {
        const char *l = line == Line::Tcp ? "tcp" : "pty";
        const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s: %s", l, name) << line; };
        row("no answer") << once("silent") << "1000" << false << Scenario::Plain
                         << LinkError::TimedOut << 0 << timedOut;
        row("late answer, discarded") << once("late:1500") << "1000" << false << Scenario::Late
                                      << LinkError::TimedOut << 0 << timedOut;
        row("partial frame then silence") << once("partial") << "1000" << false << Scenario::Plain
                                          << LinkError::TimedOut << 0 << timedOut;
        row("garbage before STX") << once("garbage") << "1000" << false << Scenario::Plain
                                  << LinkError::None << 0x33 << answered;
        row("one bad BCC, recovered") << once("bad-bcc-once") << "1000" << false << Scenario::Plain
                                      << LinkError::None << 0x33 << answered;
        row("bad BCC every time") << once("bad-bcc") << "1000" << false << Scenario::Plain
                                  << LinkError::BadResponse << 0 << failed;
        row("NAK every time") << once("nak", 3) << "1000" << false << Scenario::Plain
                              << LinkError::Refused << 0 << failed;
        row("LEN promises more than follows") << once("short-len") << "1000" << false << Scenario::Plain
                                              << LinkError::TimedOut << 0 << timedOut;
        row(line == Line::Tcp ? "peer closes mid-response" : "master closes under a running command")
            << once("close-mid") << "1000" << false << Scenario::LinkClosed << LinkError::LinkLost << 0 << failed;
        row("reconnection while the command waits") << once("silent") << "0" << false << Scenario::Reconnect
                                                    << LinkError::Aborted << 0 << failed;
        if (line == Line::Pty)
            row("DSR inactive") << QStringList() << "1000" << true << Scenario::Plain
                                << LinkError::DsrInactive << 0 << failed;
        else
            row("DSR check ignored over TCP") << QStringList() << "1000" << true << Scenario::Plain
                                              << LinkError::None << 0x33 << answered;
    }
}

void TestFaultMatrix::matrix()
{
    QFETCH(Line, line);
    QFETCH(QStringList, fault);
    QFETCH(QString, timeout);
    QFETCH(bool, dsr);
    QFETCH(Scenario, scenario);
    QFETCH(int, errorCode);
    QFETCH(int, responseCode);
    QFETCH(QStringList, display);

    QVERIFY(startEmulator(line, fault));
    auto plenko = std::make_unique<Plenko>();
    m_plenko = plenko.get();
    m_window = std::make_unique<frmMain>(std::move(plenko));
    m_window->setMessageSink([this](const QString &text) { m_messages << text; });
    m_window->setBeep([] {});
    m_window->setEndProgram([](int status) { QFAIL(qPrintable(QStringLiteral("program ended (%1)").arg(status))); });
    m_window->show();
    QVERIFY(openLink(line));

    InactiveDsr inactive;
    if (dsr)
        m_plenko->setModemLinesForTesting(&inactive);

    // The reconnections the operator can start during a wait, through the window's menu: Set
    // in the address dialog (network) or a port choice (serial).
    bool reconnected = false;
    if (scenario == Scenario::Reconnect) {
        QTimer::singleShot(300, m_window.get(), [&] {
            if (line == Line::Tcp) {
                m_window->findChild<QAction *>("mnu_IP")->trigger();
                frm_IP *dialog = nullptr;
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (auto *d = qobject_cast<frm_IP *>(w); d && d->isVisible())
                        dialog = d;
                }
                if (!dialog) { // fail below instead of waiting for ever
                    m_plenko->AbortCommand();
                    return;
                }
                const QStringList parts{"127", "0", "0", "1"};
                for (int i = 0; i < 4; ++i)
                    dialog->findChild<QLineEdit *>(QStringLiteral("txt_IP%1").arg(i + 1))->setText(parts[i]);
                dialog->findChild<QPushButton *>("cmd_IPSet")->click();
            } else {
                m_window->findChild<QAction *>("mnu_Com1")->trigger();
            }
            reconnected = true;
        });
    }

    const qint64 elapsed = send("22", QString(), timeout, dsr);

    QCOMPARE(variantToInt32(m_plenko->ErrorCode()), errorCode);
    QCOMPARE(variantToInt32(m_plenko->ResponseCode()), responseCode);
    QCOMPARE(shown(), display);
    QVERIFY(allGatedEnabled());
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    const int limit = timeout.toInt() > 0 ? timeout.toInt() : 300;
    // A bound, not a benchmark: a reconnection adds its own settle waits or connection.
    const int slack = scenario == Scenario::Reconnect ? 3000 : 200;
    QVERIFY2(elapsed <= limit + slack, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
    qInfo("ended after %lld ms with ErrorCode %d", elapsed, errorCode);

    if (dsr && line == Line::Pty) {
        // Nothing went out: the emulator saw no byte at all.
        for (const EmulatorProcess::TraceEntry &entry : m_emu->traceEntries())
            QVERIFY2(entry.direction != QLatin1String("in"), qPrintable(entry.kind));
        m_plenko->setModemLinesForTesting(nullptr);
    }

    switch (scenario) {
    case Scenario::Plain:
        break;
    case Scenario::Late:
        // The answer comes after all; the control acknowledges it and drops it.
        QVERIFY(m_emu->waitForTrace(" in ACK", 5000));
        break;
    case Scenario::LinkClosed: {
        QCOMPARE(variantToInt32(m_plenko->CommStatus()), LinkStatus::NoLink);
        // A dead line must not keep the program busy.
        const double before = processCpuSeconds();
        idleFor(1000);
        const double cpu = processCpuSeconds() - before;
        QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("%1 s of CPU in the second after").arg(cpu)));
        qInfo("%.3f s of CPU in the second after the line went", cpu);
        if (line == Line::Pty)
            QVERIFY(m_emu->waitForTrace(" now leads to ", 5000)); // a fresh pseudo-terminal
        QVERIFY(openLink(line));
        break;
    }
    case Scenario::Reconnect:
        QVERIFY(reconnected);
        QCOMPARE(variantToInt32(m_plenko->CommStatus()), LinkStatus::Idle);
        break;
    }

    // The next command, without a fault, goes through and gets its own answer.
    send("39", "FOLLOW-UP", "5000", false);
    QCOMPARE(variantToInt32(m_plenko->ErrorCode()), LinkError::None);
    QCOMPARE(shown(), (QStringList{"&h 39", "&H 20", "", "0"}));
    QCOMPARE(m_emu->receivedCommands().last(), QByteArray("\x39" "FOLLOW-UP"));
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
