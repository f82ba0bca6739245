#include "EmulatorLauncher.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int kStartMs = 10000;
constexpr int kStopMs = 5000;

} // namespace

EmulatorLauncher::EmulatorLauncher(QString program) : m_program(std::move(program)) {}

EmulatorLauncher::~EmulatorLauncher()
{
    stop();
}

std::optional<quint16> EmulatorLauncher::parseTcpLine(const QByteArray &line)
{
    static const QRegularExpression pattern(QStringLiteral("^kestra-emu: tcp (.+):(\\d+)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(line));
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const uint port = match.captured(2).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

std::optional<QString> EmulatorLauncher::parsePtyLine(const QByteArray &line)
{
    static const QByteArray prefix("kestra-emu: pty ");
    if (!line.startsWith(prefix))
        return std::nullopt;
    const QString path = QString::fromUtf8(line.mid(prefix.size())).trimmed();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

bool EmulatorLauncher::start(const Options &options)
{
    stop();
    m_error.clear();
    m_tcpPort = 0;
    m_ptyPath.clear();

    QStringList args = options.tcp ? QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0")}
                                   : QStringList{QStringLiteral("--no-tcp")};
    if (!options.ptyLink.isEmpty())
        args << QStringLiteral("--pty") << options.ptyLink;
    args += options.extraArgs;

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_program);
    m_process->setArguments(args);
    if (options.stderrFile.isEmpty())
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    else
        m_process->setStandardErrorFile(options.stderrFile);
    m_process->start(QIODevice::ReadOnly);
    if (!m_process->waitForStarted(kStartMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(m_program, m_process->errorString());
        m_process.reset();
        return false;
    }
    if (!readStartUpLines(options)) {
        stop();
        return false;
    }
    return true;
}

bool EmulatorLauncher::readStartUpLines(const Options &options)
{
    const QDeadlineTimer deadline(kStartMs);
    for (;;) {
        while (m_process->canReadLine()) {
            const QByteArray line = m_process->readLine().trimmed();
            if (const std::optional<quint16> port = parseTcpLine(line)) {
                m_tcpPort = *port;
            } else if (const std::optional<QString> path = parsePtyLine(line)) {
                m_ptyPath = *path;
            } else if (line == "kestra-emu: ready") {
                if ((options.tcp && m_tcpPort == 0) || (!options.ptyLink.isEmpty() && m_ptyPath.isEmpty())) {
                    m_error = QStringLiteral("kestra-emu did not say where it listens");
                    return false;
                }
                return true;
            }
        }
        // Blocks until the next line comes or the deadline passes: no polling.
        if (m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            continue;
        if (m_process->state() == QProcess::NotRunning)
            m_error = endedText(options);
        else if (deadline.hasExpired())
            m_error = QStringLiteral("kestra-emu did not say ready within %1 s").arg(kStartMs / 1000);
        else
            continue;
        return false;
    }
}

QString EmulatorLauncher::endedText(const Options &options) const
{
    QString text = QStringLiteral("kestra-emu ended (exit status %1)").arg(m_process->exitCode());
    QFile stderrFile(options.stderrFile);
    if (!options.stderrFile.isEmpty() && stderrFile.open(QIODevice::ReadOnly))
        text += QStringLiteral(": ") + QString::fromLocal8Bit(stderrFile.readAll()).trimmed();
    return text;
}

void EmulatorLauncher::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopMs);
        }
    }
    m_process.reset();
}

bool EmulatorLauncher::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}
