// The console-side benchmarks: each runs the real window with the real card control against a
// kestra-emu that the driver started, and prints one JSON object on stdout.

#include "BenchSupport.h"
#include "ConsoleHarness.h"
#include "control/LinkJournal.h"
#include "control/Plenko.h"
#include "protocol/Protocol.h"
#include "window/ResponseDisplay.h"
#include "SamplePrint.h"
#include "frmMain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEvent>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr qint32 kBufferClear = DeviceCommand::BufferClear;
constexpr qint32 kMagneticRead = DeviceCommand::MagneticRead;
constexpr qint32 kMagneticData = DeviceCommand::MagneticData;
constexpr qint32 kMagneticWrite = DeviceCommand::MagneticWrite;
constexpr qint32 kPrintData = DeviceCommand::PrintData;

int report(const QJsonObject &result)
{
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return 0;
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench-console: %s\n", what);
    return 1;
}

double microsSince(qint64 startNs)
{
    return double(bench::monotonicNs() - startNs) / 1000.0;
}

class NullDisplay : public ResponseDisplay
{
public:
    void setCommandBox(const QString &) override {}
    void setCodeBox(const QString &) override {}
    void setDataBox(const QString &) override {}
    void setResultBox(const QString &) override {}
    void beep() override {}
};

bool writeStripe(ConsoleHarness &console, const QByteArray &stripe)
{
    return console.run(kMagneticData, stripe, 5000) && console.run(kMagneticWrite, "2", 5000);
}

// ---- round trip ---------------------------------------------------------------------------
// path "runner": RunCommand with the codes, parameters and time-outs of the buttons.
// path "buttons": a click on cmd_Clear / cmd_Mg2Read, with the gating around the command.
int roundTrip(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"count", "commands per series", "N", "2000"},
                  {"warmup", "untimed commands first", "N", "100"},
                  {"stripe", "stripe text", "TEXT"},
                  {"path", "runner or buttons", "PATH", "runner"},
                  {"display", "window (the shown window's boxes) or none (a display that shows nothing)",
                   "DISPLAY", "window"},
                  {"journal", "record the link into FILE, as brindle --journal does", "FILE"}});
    p.process(args);
    const int count = p.value("count").toInt();
    const int warmup = p.value("warmup").toInt();
    const QByteArray stripe = p.value("stripe").toLatin1();
    const bool viaButtons = p.value("path") == QLatin1String("buttons");
    const bool noDisplay = p.value("display") == QLatin1String("none");

    // Declared before the console, so that it outlives the control that writes into it.
    LinkJournal journal;
    ConsoleHarness console;
    if (!console.showAndWaitExposed())
        return fail("the window was not exposed");
    if (p.isSet("journal")) {
        QString reason;
        auto *plenko = dynamic_cast<Plenko *>(&console.control());
        if (!plenko || !journal.open(p.value("journal"), &reason))
            return fail("the journal does not open");
        plenko->setJournal(&journal);
    }
    if (!console.connectLoopback())
        return fail("no link to the emulator");
    if (!writeStripe(console, stripe))
        return fail("writing the stripe failed");

    QPushButton *clearButton = console.window().findChild<QPushButton *>("cmd_Clear");
    QPushButton *readButton = console.window().findChild<QPushButton *>("cmd_Mg2Read");
    QLineEdit *resultBox = console.window().findChild<QLineEdit *>("dis_Ocx");
    QLineEdit *dataBox = console.window().findChild<QLineEdit *>("dis_KestraData");
    if (!clearButton || !readButton || !resultBox || !dataBox)
        return fail("the window lacks its buttons or boxes");

    // The same runner on a display that shows nothing: what the card control and the event loop
    // cost without the window's boxes.
    NullDisplay nullDisplay;
    CommandRunner bareRunner(console.control(), nullDisplay);
    auto bare = [&](qint32 code, qint32 timeout, const QByteArray *expected) {
        qint32 responseCode = 0;
        QByteArray data;
        return bareRunner.RunCommand(code, {}, timeout, false, responseCode, data) == CommandRunner::Completed
               && (!expected || data == *expected);
    };

    int failures = 0;
    auto command = [&](bool read) {
        if (noDisplay)
            return read ? bare(kMagneticRead, 30000, &stripe) : bare(kBufferClear, 5000, nullptr);
        if (viaButtons) {
            (read ? readButton : clearButton)->click();
            return resultBox->text() == QLatin1String("0")
                   && (!read || dataBox->text() == QString::fromLatin1(stripe));
        }
        return read ? console.run(kMagneticRead, {}, 30000, false, &stripe) : console.run(kBufferClear, {}, 5000);
    };
    for (int i = 0; i < warmup; ++i)
        failures += command(i % 2) ? 0 : 1;

    auto series = [&](bool read) {
        QList<double> samples;
        samples.reserve(count);
        for (int i = 0; i < count; ++i) {
            const qint64 start = bench::monotonicNs();
            const bool ok = command(read);
            samples.append(microsSince(start));
            failures += ok ? 0 : 1;
        }
        return samples;
    };
    const QList<double> clear = series(false);
    const QList<double> read = series(true);
    const char *client = noDisplay ? "console-nodisplay" : viaButtons ? "console-buttons"
                         : journal.isOpen() ? "console-journal" : "console";
    return report({{"client", client},
                   {"clear", bench::toJsonArray(clear)},
                   {"read", bench::toJsonArray(read)},
                   {"failures", failures}});
}

// ---- CPU while waiting ------------------------------------------------------------------
// An event that carries the moment it was posted.
class StampedEvent : public QEvent
{
public:
    static QEvent::Type type()
    {
        static const int id = QEvent::registerEventType();
        return QEvent::Type(id);
    }
    explicit StampedEvent(qint64 postedNs) : QEvent(type()), postedNs(postedNs) {}
    const qint64 postedNs;
};

class LatencyProbe : public QObject
{
public:
    QList<double> postedLatencyUs; // posted from another thread, handled here
    QList<double> timerLatenessUs; // a single-shot timer's tick after its due time

    bool event(QEvent *e) override
    {
        if (e->type() != StampedEvent::type())
            return QObject::event(e);
        postedLatencyUs.append(microsSince(static_cast<StampedEvent *>(e)->postedNs));
        return true;
    }

    // Every periodMs: a timer armed for periodMs that records how late it ticked, and an
    // event posted from a second thread that records how long it waited to be handled.
    void start(int periodMs)
    {
        m_periodMs = periodMs;
        m_running = true;
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &LatencyProbe::timerTick);
        armTimer();
        m_poster = std::thread([this, periodMs] {
            auto next = std::chrono::steady_clock::now();
            while (m_running.load()) {
                next += std::chrono::milliseconds(periodMs);
                std::this_thread::sleep_until(next);
                QCoreApplication::postEvent(this, new StampedEvent(bench::monotonicNs()));
            }
        });
    }
    void stop()
    {
        m_running = false;
        if (m_poster.joinable())
            m_poster.join();
        m_timer.stop();
    }
    ~LatencyProbe() override { stop(); }

private:
    void armTimer()
    {
        m_timerDueNs = bench::monotonicNs() + qint64(m_periodMs) * 1'000'000;
        m_timer.start(m_periodMs);
    }

    void timerTick()
    {
        timerLatenessUs.append(double(bench::monotonicNs() - m_timerDueNs) / 1000.0);
        if (m_running.load())
            armTimer();
    }

    int m_periodMs = 10;
    qint64 m_timerDueNs = 0;
    QTimer m_timer;
    std::atomic<bool> m_running{false};
    std::thread m_poster;
};

struct CpuWindow
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    QJsonObject json() const
    {
        return {{"cpu_s", cpuSeconds}, {"wall_s", wallSeconds}, {"share", bench::ratio(cpuSeconds, wallSeconds)}};
    }
};

template <typename F>
CpuWindow measureCpu(F &&body)
{
    const double cpu0 = bench::processCpuSeconds();
    const qint64 wall0 = bench::monotonicNs();
    body();
    return {bench::processCpuSeconds() - cpu0, double(bench::monotonicNs() - wall0) / 1e9};
}

// Needs an emulator that answers every command late (--fault late:MS, MS longer than spin-ms
// and probe-ms).
int cpuWhileWaiting(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"spin-ms", "length of the spinning wait", "MS", "3000"},
                  {"probe-ms", "length of the wait with latency probes", "MS", "5000"},
                  {"probe-period-ms", "one probe every MS", "MS", "10"}});
    p.process(args);
    const int spinMs = p.value("spin-ms").toInt();
    const int probeMs = p.value("probe-ms").toInt();

    ConsoleHarness console;
    if (!console.showAndWaitExposed())
        return fail("the window was not exposed");
    if (!console.connectLoopback())
        return fail("no link to the emulator");
    CardCalls &calls = console.calls();

    // 1. The literal busy poll: one pass over the events, one status read, again, no blocking.
    //    The command's own time-out ends it.
    qint32 code = kBufferClear;
    QByteArray parameter;
    qint32 timeout = spinMs;
    bool dsr = false;
    if (calls.SendCommand(code, parameter, timeout, dsr) != 0)
        return fail("the spinning command was refused");
    qint64 passes = 0;
    const CpuWindow spin = measureCpu([&] {
        QCoreApplication::processEvents();
        ++passes;
        while (calls.CommStatus() == LinkStatus::Busy) {
            QCoreApplication::processEvents();
            ++passes;
        }
    });
    const qint32 spinError = calls.ErrorCode();

    // 2. The console's own wait, through RunCommand, for the whole late answer.
    qint32 responseCode = 0;
    QByteArray responseData;
    qint32 result = CommandRunner::Failed;
    const CpuWindow wait = measureCpu([&] {
        result = console.runner().RunCommand(kBufferClear, {}, 0, false, responseCode, responseData);
    });

    // 3. The same wait with probes, ended by the command's time-out.
    LatencyProbe probe;
    probe.start(p.value("probe-period-ms").toInt());
    const CpuWindow probed = measureCpu([&] {
        console.runner().RunCommand(kBufferClear, {}, probeMs, false, responseCode, responseData);
    });
    probe.stop();

    return report({{"spin", spin.json()},
                   {"spin_passes", double(passes)},
                   {"spin_error", spinError},
                   {"wait", wait.json()},
                   {"wait_result", result},
                   {"probed_wait", probed.json()},
                   {"posted_latency_us", bench::toJson(bench::summarize(probe.postedLatencyUs))},
                   {"timer_lateness_us", bench::toJson(bench::summarize(probe.timerLatenessUs))}});
}

// ---- serial line --------------------------------------------------------------------------
// COM<com> must reach the emulator's pseudo-terminal (PLENKO_COM<n>), paced by --wire-speed.
bool openSerial(ConsoleHarness &console, int com, SpeedCode speed)
{
    ConnectionSettings &settings = console.settings();
    settings.chooseSpeed(speed); // opens port 0 when no port was chosen yet: nothing to open
    settings.choosePort(com);
    return console.calls().CommStatus() == LinkStatus::Idle;
}

int serialLine(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"com", "COM port number", "N", "1"},
                  {"count", "sample prints", "N", "20"},
                  {"gap-ms", "idle line before each print", "MS", "30"}});
    p.process(args);
    const int count = p.value("count").toInt();
    const int gapMs = p.value("gap-ms").toInt();

    ConsoleHarness console;
    if (!console.showAndWaitExposed())
        return fail("the window was not exposed");
    if (!openSerial(console, p.value("com").toInt(), SpeedCode::Bps38400))
        return fail("the serial link did not open");

    const QByteArray sample = SamplePrintData();
    int failures = 0;
    QList<double> samples;
    for (int i = 0; i < count; ++i) {
        // Empty the print buffer (untimed) and let the line fall quiet, so that every print
        // starts on an idle line.
        failures += console.run(kBufferClear, {}, 5000) ? 0 : 1;
        ConsoleHarness::idle(gapMs);
        // As the sample print sends it: DSR check on.
        const qint64 start = bench::monotonicNs();
        failures += console.run(kPrintData, sample, 5000, true) ? 0 : 1;
        samples.append(microsSince(start));
    }
    return report({{"samples_us", bench::toJsonArray(samples)},
                   {"parameter_bytes", double(sample.size())},
                   {"failures", failures}});
}

// ---- reconnection -------------------------------------------------------------------------
int reconnection(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"com", "COM port number", "N", "1"}, {"count", "reconnections", "N", "50"}});
    p.process(args);
    const int com = p.value("com").toInt();
    const int count = p.value("count").toInt();

    ConsoleHarness console;
    if (!console.showAndWaitExposed())
        return fail("the window was not exposed");
    if (!openSerial(console, com, SpeedCode::Bps38400))
        return fail("the serial link did not open");

    ConnectionSettings &settings = console.settings();
    int failures = 0;
    QList<double> samples;
    for (int i = 0; i < count; ++i) {
        const qint64 start = bench::monotonicNs();
        settings.choosePort(com); // ApplyConnection with the port in force
        samples.append(microsSince(start));
        // The link must work after every reconnection (untimed).
        failures += console.run(kBufferClear, {}, 5000) ? 0 : 1;
    }
    return report({{"samples_us", bench::toJsonArray(samples)}, {"failures", failures}});
}

// ---- soak ---------------------------------------------------------------------------------
int soak(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"count", "commands", "N", "100000"},
                  {"warmup", "commands before the first memory reading", "N", "2000"},
                  {"checkpoints", "memory readings over the run", "N", "20"},
                  {"stripe", "stripe text", "TEXT"}});
    p.process(args);
    const int count = p.value("count").toInt();
    const int warmup = p.value("warmup").toInt();
    const int checkpoints = qMax(1, p.value("checkpoints").toInt());
    const QByteArray stripe = p.value("stripe").toLatin1();

    ConsoleHarness console;
    if (!console.showAndWaitExposed())
        return fail("the window was not exposed");
    if (!console.connectLoopback())
        return fail("no link to the emulator");
    if (!writeStripe(console, stripe))
        return fail("writing the stripe failed");

    // Buffer clear and magnetic read by turns: the read brings 64 bytes of data to show.
    auto command = [&](int i) {
        return i % 2 ? console.run(kMagneticRead, {}, 30000, false, &stripe) : console.run(kBufferClear, {}, 5000);
    };
    int failures = 0;
    for (int i = 0; i < warmup; ++i)
        failures += command(i) ? 0 : 1;

    const qint64 rssStart = bench::currentRssBytes();
    QJsonArray rss;
    rss.append(QJsonArray{0, double(rssStart)});
    const int step = qMax(1, count / checkpoints);
    const qint64 start = bench::monotonicNs();
    for (int i = 0; i < count; ++i) {
        failures += command(i) ? 0 : 1;
        if ((i + 1) % step == 0 || i + 1 == count)
            rss.append(QJsonArray{i + 1, double(bench::currentRssBytes())});
    }
    const double wallSeconds = double(bench::monotonicNs() - start) / 1e9;
    return report({{"count", count},
                   {"failures", failures},
                   {"wall_s", wallSeconds},
                   {"rss_start", double(rssStart)},
                   {"rss_end", double(bench::currentRssBytes())},
                   {"rss_peak", double(bench::peakRssBytes())},
                   {"rss_series", rss}});
}

} // namespace

int runConsoleBench(const QString &mode, const QStringList &args)
{
    if (mode == QLatin1String("roundtrip"))
        return roundTrip(args);
    if (mode == QLatin1String("wait"))
        return cpuWhileWaiting(args);
    if (mode == QLatin1String("serial"))
        return serialLine(args);
    if (mode == QLatin1String("reconnect"))
        return reconnection(args);
    if (mode == QLatin1String("soak"))
        return soak(args);
    std::fprintf(stderr, "bench-console: unknown mode %s (roundtrip, wait, serial, reconnect, soak)\n",
                 qPrintable(mode));
    return 2;
}
