#include "SendBench.h"

#include "BenchSupport.h"
#include "Processes.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

void progress(const QString &text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// A loopback listener that notes when the first byte of its first connection arrives, then
// hangs up: the client under test stops there.
class FirstByteListener
{
public:
    FirstByteListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_fd, 4) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~FirstByteListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port() const { return m_port; }

    // Blocks (at most timeoutMs) for one connection and its first byte; its monotonic time, or 0.
    qint64 awaitFirstByte(int timeoutMs)
    {
        pollfd listening{m_fd, POLLIN, 0};
        if (::poll(&listening, 1, timeoutMs) != 1)
            return 0;
        const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return 0;
        qint64 at = 0;
        pollfd incoming{connection, POLLIN, 0};
        char byte = 0;
        if (::poll(&incoming, 1, timeoutMs) == 1 && ::recv(connection, &byte, 1, 0) == 1)
            at = monotonicNs();
        ::close(connection);
        return at;
    }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

} // namespace

SendBenchResult measureSend(const SendBenchSetup &setup)
{
    SendBenchResult result;
    const int count = setup.quick ? 1000 : 10000;
    const int rounds = setup.quick ? 1 : 3;
    const int starts = setup.quick ? 5 : 20;
    Emulator emu(setup.emulator);
    if (!emu.start({"--time-scale", "0", "--reinsert-ms", "0"})) {
        result.rows << Row{"7 kestra-send", "failed: " + emu.errorText(), "≤ 1.1, < 1.0", Verdict::NotMeasured};
        return result;
    }
    const QString port = QString::number(emu.tcpPort());
    const QString stripe = QString::fromLatin1(setup.stripe);

    // The same work for every client: the stripe written, then buffer clears and magnetic reads.
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath("batch.txt");
    {
        QByteArray script = "code 39 --param '" + setup.stripe + "'\ncode 31 --param 2\n";
        for (int i = 0; i < count; ++i)
            script += i % 2 ? "read\n" : "clear\n";
        QFile file(scriptPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size()) {
            result.rows << Row{"7 kestra-send", "failed: cannot write the script", "≤ 1.1, < 1.0", Verdict::NotMeasured};
            return result;
        }
    }
    const QStringList half{"--count", QString::number(count / 2), "--warmup", "0", "--stripe", stripe};
    struct Client
    {
        QString key;
        QString label;
        QStringList argv;
    };
    const QList<Client> clients{
        {"send", "kestra-send -f (one command a line, output for people)",
         {setup.send, "--tcp", "127.0.0.1:" + port, "-f", scriptPath}},
        {"raw", "plain blocking C++ socket client", QStringList{setup.rawClient, "--port", port} + half},
        {"python", "Python client, standard library", QStringList{setup.python, setup.pyClient, "--port", port} + half},
    };

    QHash<QString, QList<double>> perCommand;
    QStringList errors;
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype k = 0; k < clients.size(); ++k) {
            const Client &client = clients[(k + round) % clients.size()];
            progress(QStringLiteral("kestra-send batch, round %1/%2: %3").arg(round + 1).arg(rounds).arg(client.key));
            const qint64 start = monotonicNs();
            const SpawnResult run = spawnMeasured(client.argv, {}, 600'000);
            const qint64 end = monotonicNs();
            if (!run.ok) {
                errors << run.error;
                continue;
            }
            perCommand[client.key] << double(end - start) / 1000.0 / count;
        }
    }
    const Summary send = summarize(perCommand.value("send"));
    const Summary raw = summarize(perCommand.value("raw"));
    const Summary python = summarize(perCommand.value("python"));
    const double toRaw = ratio(send.median, raw.median);
    const double toPython = ratio(send.median, python.median);
    const Verdict belowPython = std::isfinite(toPython) ? (toPython < 1.0 ? Verdict::Met : Verdict::Missed)
                                                        : Verdict::NotMeasured;
    result.rows << Row{QStringLiteral("7 kestra-send batch of %1, per command: kestra-send / plain C++ client (%2 / %3)")
                           .arg(count).arg(formatMicros(send.median), formatMicros(raw.median)),
                       formatRatio(toRaw), "≤ 1.1", atMost(toRaw, 1.1)};
    result.rows << Row{QStringLiteral("7 kestra-send batch of %1, per command: kestra-send / Python client (%2 / %3)")
                           .arg(count).arg(formatMicros(send.median), formatMicros(python.median)),
                       formatRatio(toPython), "< 1.0", belowPython};

    // Start to the first byte on the wire, alternating the two programs.
    QHash<QString, QList<double>> startMs;
    for (int i = 0; i <= starts; ++i) {
        for (const QString &key : {QStringLiteral("send"), QStringLiteral("python")}) {
            FirstByteListener listener;
            if (listener.port() == 0) {
                errors << QStringLiteral("no loopback listener");
                continue;
            }
            const QString at = QString::number(listener.port());
            const QStringList argv = key == u"send"
                                         ? QStringList{setup.send, "--tcp", "127.0.0.1:" + at, "clear"}
                                         : QStringList{setup.python, setup.pyClient, "--port", at, "--count", "1",
                                                       "--warmup", "0", "--stripe", stripe};
            std::atomic<qint64> firstByte{0};
            std::thread waiter([&] { firstByte = listener.awaitFirstByte(20'000); });
            const qint64 start = monotonicNs();
            // Both programs fail once the listener hangs up; only the time matters here.
            spawnMeasured(argv, {"QT_LOGGING_RULES=brindle.link=false"}, 30'000, true);
            waiter.join();
            if (firstByte == 0) {
                errors << key + QStringLiteral(": no first byte");
                continue;
            }
            if (i > 0) // the first of each warms the caches
                startMs[key] << double(firstByte - start) / 1e6;
        }
    }
    const Summary sendStart = summarize(startMs.value("send"));
    const Summary pythonStart = summarize(startMs.value("python"));
    result.rows << Row{QStringLiteral("7 start to first byte on the wire, median: kestra-send / Python client (%1 / %2 ms)")
                           .arg(QString::number(sendStart.median, 'f', 1), QString::number(pythonStart.median, 'f', 1)),
                       formatRatio(ratio(sendStart.median, pythonStart.median)), "beside Python", Verdict::Reported};

    result.details += QStringLiteral("### 7. kestra-send\n\n"
                                     "A batch of %1 commands (buffer clears and magnetic reads of 64 bytes by turns, "
                                     "after the stripe is written) against `kestra-emu --time-scale 0` over loopback "
                                     "TCP, from one `kestra-send -f` run, beside the plain C++ client and the Python "
                                     "client doing the same %1 commands on one connection. Each run timed from the "
                                     "spawn to the end of the process (start-up, connection and output included), "
                                     "divided by %1; %2 runs of each, interleaved.\n\n")
                          .arg(count).arg(rounds);
    QList<QStringList> table;
    for (const Client &client : clients) {
        const Summary s = summarize(perCommand.value(client.key));
        table << QStringList{client.label, QString::number(s.count), formatMicros(s.median), formatMicros(s.min),
                             formatMicros(s.max)};
    }
    result.details += markdownTable({"client", "runs", "median per command", "min", "max"}, table);
    result.details += QStringLiteral("\nStart to first byte: from just before the spawn to the first byte of the first "
                                     "command frame arriving at a loopback listener (`kestra-send --tcp ... clear`; "
                                     "`pyclient.py`, whose first frame is the stripe's); %1 runs each, alternating, "
                                     "after one untimed run of each.\n\n")
                          .arg(starts);
    result.details += markdownTable({"program", "n", "median", "min", "max"},
                                    {{"kestra-send", QString::number(sendStart.count), formatMicros(sendStart.median * 1000),
                                      formatMicros(sendStart.min * 1000), formatMicros(sendStart.max * 1000)},
                                     {"Python client", QString::number(pythonStart.count),
                                      formatMicros(pythonStart.median * 1000), formatMicros(pythonStart.min * 1000),
                                      formatMicros(pythonStart.max * 1000)}});
    if (!errors.isEmpty())
        result.details += QStringLiteral("\nErrors: ") + errors.join(QStringLiteral("; ")) + QLatin1Char('\n');
    result.details += QLatin1Char('\n');
    return result;
}

} // namespace bench
