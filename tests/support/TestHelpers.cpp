#include "TestHelpers.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

EmulatorProcess::EmulatorProcess() : EmulatorProcess(Options{}) {}

EmulatorProcess::EmulatorProcess(Options options) : m_options(std::move(options))
{
    m_tracePath = m_dir.filePath(QStringLiteral("trace.log"));
}

EmulatorProcess::~EmulatorProcess()
{
    stop();
}

bool EmulatorProcess::start()
{
    stop();
    m_error.clear();
    m_tcpPort = 0;
    m_ptyPath.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: %1").arg(m_dir.errorString());
        return false;
    }
    const QString program = qEnvironmentVariable("KESTRA_EMU");
    if (program.isEmpty()) {
        m_error = QStringLiteral("KESTRA_EMU is not set (run the test through ctest)");
        return false;
    }

    QStringList args{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"),
                     QStringLiteral("--trace-file"), m_tracePath};
    if (m_options.pty)
        args << QStringLiteral("--pty") << m_dir.filePath(QStringLiteral("ttyKestra"));
    if (m_options.surfacePng) {
        m_surfacePath = m_dir.filePath(QStringLiteral("surface.png"));
        args << QStringLiteral("--surface-png") << m_surfacePath;
    }
    args += m_options.extraArgs;

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program);
    m_process->setArguments(args);
    m_process->setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.log")));
    m_process->start(QIODevice::ReadOnly);
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, m_process->errorString());
        m_process.reset();
        return false;
    }

    const QDeadlineTimer deadline(10000);
    bool ready = false;
    while (!ready) {
        if (!m_process->canReadLine()) {
            if (m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                continue;
            if (m_process->state() == QProcess::NotRunning) {
                m_error = QStringLiteral("kestra-emu ended (exit status %1): %2")
                              .arg(m_process->exitCode())
                              .arg(QString::fromLocal8Bit(standardError()).trimmed());
            } else {
                m_error = QStringLiteral("kestra-emu did not say ready within 10 s");
            }
            stop();
            return false;
        }
        const QByteArray line = m_process->readLine().trimmed();
        if (line.startsWith("kestra-emu: tcp ")) {
            m_tcpPort = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        } else if (line.startsWith("kestra-emu: pty ")) {
            m_ptyPath = QString::fromLocal8Bit(line.mid(16));
        } else if (line == "kestra-emu: ready") {
            ready = true;
        }
    }
    if (m_tcpPort == 0 || (m_options.pty && m_ptyPath.isEmpty())) {
        m_error = QStringLiteral("kestra-emu did not say where it listens");
        stop();
        return false;
    }
    return true;
}

void EmulatorProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    }
    m_process.reset();
}

bool EmulatorProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 EmulatorProcess::processId() const
{
    return m_process ? m_process->processId() : 0;
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
