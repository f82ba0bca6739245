#include "TestHelpers.h"

#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QRegularExpression>
#include <QTimer>

EmulatorProcess::EmulatorProcess() : EmulatorProcess(Options{}) {}

EmulatorProcess::EmulatorProcess(Options options)
    : m_options(std::move(options)), m_launcher(qEnvironmentVariable("KESTRA_EMU"))
{
    m_tracePath = m_dir.filePath(QStringLiteral("trace.log"));
}

EmulatorProcess::~EmulatorProcess() = default;

bool EmulatorProcess::start()
{
    stop();
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: %1").arg(m_dir.errorString());
        return false;
    }
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU")) {
        m_error = QStringLiteral("KESTRA_EMU is not set (run the test through ctest)");
        return false;
    }

    EmulatorLauncher::Options launch;
    if (m_options.pty)
        launch.ptyLink = m_dir.filePath(QStringLiteral("ttyKestra"));
    launch.extraArgs = QStringList{QStringLiteral("--trace-file"), m_tracePath};
    if (m_options.surfacePng) {
        m_surfacePath = m_dir.filePath(QStringLiteral("surface.png"));
        launch.extraArgs << QStringLiteral("--surface-png") << m_surfacePath;
    }
    launch.extraArgs += m_options.extraArgs;
    launch.stderrFile = m_dir.filePath(QStringLiteral("stderr.log"));
    if (!m_launcher.start(launch)) {
        m_error = m_launcher.errorText();
        return false;
    }
    return true;
}

void EmulatorProcess::stop()
{
    m_launcher.stop();
}

bool EmulatorProcess::isRunning() const
{
    return m_launcher.isRunning();
}

qint64 EmulatorProcess::processId() const
{
    return m_launcher.process() ? m_launcher.process()->processId() : 0;
}

QByteArray EmulatorProcess::trace() const
{
    QFile file(m_tracePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray EmulatorProcess::standardError() const
{
    QFile file(m_dir.filePath(QStringLiteral("stderr.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

EmulatorProcess::TraceEntry EmulatorProcess::parseTraceLine(const QByteArray &line)
{
    TraceEntry entry;
    const QList<QByteArray> head = line.split(' ');
    if (head.size() < 4)
        return entry;
    entry.link = QString::fromUtf8(head[1]);
    entry.direction = QString::fromUtf8(head[2]);
    entry.kind = QString::fromUtf8(head[3]);
    if (entry.direction == QLatin1String("--")) {
        const qsizetype start = line.indexOf(" event ");
        entry.text = QString::fromUtf8(line.mid(start + 7));
        return entry;
    }
    // The hex part runs up to " |", where the printable view starts.
    const qsizetype hexStart = head[0].size() + head[1].size() + head[2].size() + head[3].size() + 4;
    const qsizetype bar = line.indexOf(" |", hexStart - 1);
    entry.bytes = QByteArray::fromHex(line.mid(hexStart, bar - hexStart));
    return entry;
}

QList<EmulatorProcess::TraceEntry> EmulatorProcess::traceEntries() const
{
    QList<TraceEntry> entries;
    for (const QByteArray &line : trace().split('\n')) {
        if (!line.isEmpty())
            entries.append(parseTraceLine(line));
    }
    return entries;
}

QList<QByteArray> EmulatorProcess::receivedCommands(const QString &link) const
{
    QList<QByteArray> bodies;
    for (const TraceEntry &entry : traceEntries()) {
        if (entry.direction == QLatin1String("in") && entry.kind == QLatin1String("frame")
            && (link.isEmpty() || entry.link == link) && entry.bytes.size() > 5)
            bodies.append(entry.bytes.mid(3, entry.bytes.size() - 5));
    }
    return bodies;
}

bool EmulatorProcess::waitForTrace(const QByteArray &fragment, int timeoutMs) const
{
    if (trace().contains(fragment))
        return true;
    QFileSystemWatcher watcher({m_tracePath});
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, [&] {
        if (trace().contains(fragment))
            loop.quit();
    });
    timer.start(timeoutMs);
    if (trace().contains(fragment)) // written between the first look and the watch
        return true;
    loop.exec();
    return trace().contains(fragment);
}

QByteArray withoutSessions(const QByteArray &journal)
{
    static const QRegularExpression session(QStringLiteral(R"((?m)^(\S+ \S+) s\d+\.\d+ )"));
    return QString::fromUtf8(journal).replace(session, QStringLiteral("\\1 ")).toUtf8();
}
