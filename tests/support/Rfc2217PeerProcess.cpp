#include "Rfc2217PeerProcess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {

constexpr int kStartMs = 5000;
constexpr int kStopMs = 3000;

// The distribution's interpreter: python3-serial is installed for it, and a python3 earlier on
// PATH (pyenv and the like) usually has no pyserial.
const QString kPython = QStringLiteral("/usr/bin/python3");

QString scriptPath()
{
    return QStringLiteral(BRINDLE_RFC2217_PEER_SCRIPT);
}

} // namespace

Rfc2217PeerProcess::Rfc2217PeerProcess() = default;

Rfc2217PeerProcess::~Rfc2217PeerProcess()
{
    stop();
}

bool Rfc2217PeerProcess::available()
{
    static const bool found = [] {
        if (!QFileInfo(kPython).isExecutable() || !QFileInfo::exists(scriptPath()))
            return false;
        QProcess probe;
        probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import serial.rfc2217")});
        return probe.waitForFinished(kStartMs) && probe.exitStatus() == QProcess::NormalExit
            && probe.exitCode() == 0;
    }();
    return found;
}

QString Rfc2217PeerProcess::skipReason()
{
    return QStringLiteral("%1 without pyserial (apt-get install python3-serial)").arg(kPython);
}

bool Rfc2217PeerProcess::start()
{
    stop();
    m_error.clear();
    m_events.clear();
    m_port = 0;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(kPython, {scriptPath(), QStringLiteral("0")});
    if (!m_process->waitForStarted(kStartMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(kPython, m_process->errorString());
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!m_process->canReadLine()) {
        if (m_process->state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_error = QStringLiteral("%1 did not say its port within %2 s").arg(scriptPath()).arg(kStartMs / 1000);
            stop();
            return false;
        }
        m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    bool ok = false;
    const uint port = m_process->readLine().trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        m_error = QStringLiteral("%1 did not say its port").arg(scriptPath());
        stop();
        return false;
    }
    m_port = quint16(port);
    return true;
}

void Rfc2217PeerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(kStopMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopMs);
        }
    }
    takeLines();
    m_process.reset();
}

bool Rfc2217PeerProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void Rfc2217PeerProcess::command(const QByteArray &line)
{
    if (!m_process || m_process->state() != QProcess::Running)
        return;
    // Out at once: a test that waits on its socket next runs no event loop that would write it.
    m_process->write(line + '\n');
    m_process->waitForBytesWritten(kStartMs);
}

void Rfc2217PeerProcess::setDsr(bool on)
{
    command(on ? "dsr on" : "dsr off");
}

void Rfc2217PeerProcess::sendFromDevice(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        command("send " + bytes.toHex());
}

void Rfc2217PeerProcess::hangUp()
{
    command("hangup");
}

void Rfc2217PeerProcess::takeLines()
{
    while (m_process && m_process->canReadLine())
        m_events.append(QString::fromUtf8(m_process->readLine().trimmed()));
}

QStringList Rfc2217PeerProcess::events()
{
    takeLines();
    return m_events;
}

bool Rfc2217PeerProcess::waitForEvent(const QString &line, int timeoutMs)
{
    if (events().contains(line))
        return true;
    if (!m_process)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(m_process.get(), &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput, &loop, [&] {
        if (events().contains(line))
            loop.quit();
    });
    timer.start(timeoutMs);
    loop.exec();
    return events().contains(line);
}
