#include "Ser2netProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 5000;
constexpr int kStopMs = 2000;
constexpr int kPortAttempts = 3;
// How often start() looks whether ser2net listens yet; it says nothing when it does.
constexpr int kLookMs = 10;

QString ser2netProgram()
{
    // Debian puts it in /usr/sbin, which is not on an ordinary user's PATH.
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                           QStringLiteral("/sbin")});
}

std::optional<quint16> freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return std::nullopt;
    return probe.serverPort();
}

// gensio splits its strings at commas and YAML at spaces, so such a path or setting would
// quietly become something else.
bool fitsInGensioString(const QString &text)
{
    static const QRegularExpression unsafe(QStringLiteral(R"([\s,'"#&*(){}\[\]])"));
    return !text.isEmpty() && !text.contains(unsafe);
}

QSet<QByteArray> socketInodes(qint64 pid)
{
    QSet<QByteArray> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &name : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t length = ::readlink(QFile::encodeName(fds.filePath(name)).constData(), target, sizeof target - 1);
        const QByteArray link(target, length > 0 ? int(length) : 0);
        if (link.startsWith("socket:[") && link.endsWith(']'))
            inodes.insert(link.mid(8, link.size() - 9));
    }
    return inodes;
}

} // namespace

Ser2netProcess::Ser2netProcess() : Ser2netProcess(Options{}) {}

Ser2netProcess::Ser2netProcess(Options options) : m_options(std::move(options)) {}

Ser2netProcess::~Ser2netProcess()
{
    stop();
}

bool Ser2netProcess::available()
{
    return !ser2netProgram().isEmpty();
}

QString Ser2netProcess::skipReason()
{
    return QStringLiteral("ser2net is not installed (apt-get install ser2net)");
}

QString Ser2netProcess::configPath() const
{
    return m_dir.filePath(QStringLiteral("ser2net.yaml"));
}

QByteArray Ser2netProcess::configFor(const Options &options, quint16 port)
{
    QByteArray accepter;
    switch (options.accepter) {
    case Accepter::Rfc2217:
        accepter = "telnet(rfc2217),tcp";
        break;
    case Accepter::Telnet:
        accepter = "telnet,tcp";
        break;
    case Accepter::Raw:
        accepter = "tcp";
        break;
    }
    QStringList connector{QStringLiteral("serialdev"), options.devicePath, options.lineSettings};
    connector += options.deviceOptions;
    // Always 127.0.0.1: a bare port would have ser2net listen on every address.
    return "%YAML 1.1\n"
           "---\n"
           "connection: &kestra\n"
           "    accepter: "
           + accepter + ",127.0.0.1," + QByteArray::number(port)
           + "\n"
             "    connector: "
           + QFile::encodeName(connector.join(QLatin1Char(','))) + "\n"
           // As the README's entry: the device's bytes go on at once rather than after ser2net's
           // wait for more (two characters' time, at least 1 ms), which each ACK and answer paid.
           + "    options:\n"
             "        chardelay: false\n";
}

bool Ser2netProcess::start()
{
    stop();
    m_error.clear();
    m_port = 0;
    const QString program = ser2netProgram();
    if (program.isEmpty()) {
        m_error = skipReason();
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: %1").arg(m_dir.errorString());
        return false;
    }
    QStringList settings{m_options.devicePath, m_options.lineSettings};
    settings += m_options.deviceOptions;
    for (const QString &setting : settings) {
        if (!fitsInGensioString(setting)) {
            m_error = QStringLiteral("cannot hand \"%1\" to ser2net: empty, or a space, comma or quote in it")
                          .arg(setting);
            return false;
        }
    }

    // The port is free when we look but another process may take it before ser2net binds it;
    // ser2net then stays up without listening, so we notice and try another port.
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        const std::optional<quint16> port = freeLoopbackPort();
        if (!port) {
            m_error = QStringLiteral("no free port on 127.0.0.1");
            return false;
        }
        if (startOnce(*port))
            return true;
        if (!m_error.isEmpty())
            return false;
    }
    m_error = QStringLiteral("ser2net found each of %1 free ports taken").arg(kPortAttempts);
    return false;
}

bool Ser2netProcess::startOnce(quint16 port)
{
    m_config = configFor(m_options, port);
    QFile config(configPath());
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) || config.write(m_config) != m_config.size()) {
        m_error = QStringLiteral("cannot write %1: %2").arg(configPath(), config.errorString());
        return false;
    }
    config.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(ser2netProgram());
    // -d: in the foreground, and its log lines (which name what went wrong) on its output
    // rather than in syslog. -u: no UUCP lock files, which want /var/lock. -P: the pid file
    // in our directory, not /run.
    m_process->setArguments({QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"), configPath(),
                             QStringLiteral("-P"), m_dir.filePath(QStringLiteral("ser2net.pid"))});
    m_process->setWorkingDirectory(m_dir.path());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("ser2net.log")));
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->start();
    if (!m_process->waitForStarted(kStartMs)) {
        m_error = QStringLiteral("ser2net did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }

    m_port = port;
    const Wait outcome = waitUntilListening(kStartMs);
    if (outcome == Wait::Listening)
        return true;
    const QString said = QString::fromLocal8Bit(log()).trimmed();
    if (outcome == Wait::Ended) {
        m_error = QStringLiteral("ser2net ended (exit status %1): %2").arg(m_process->exitCode()).arg(said);
    } else if (outcome == Wait::Refused) {
        m_error = QStringLiteral("ser2net refused its configuration: %1").arg(said);
    } else if (outcome == Wait::TimedOut) {
        m_error = QStringLiteral("ser2net did not listen on 127.0.0.1:%1 within %2 s: %3")
                      .arg(port)
                      .arg(kStartMs / 1000)
                      .arg(said);
    }
    endProcess(true);
    m_port = 0;
    return false; // PortTaken leaves m_error empty: start() tries another port
}

Ser2netProcess::Wait Ser2netProcess::waitUntilListening(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    Wait outcome = Wait::TimedOut;
    QEventLoop loop;
    QTimer look;
    const auto check = [&] {
        if (m_process->state() == QProcess::NotRunning) {
            outcome = Wait::Ended;
        } else if (const QByteArray said = log(); said.contains("Unable to startup network port")) {
            outcome = Wait::PortTaken;
        } else if (said.contains(QFile::encodeName(configPath()) + ':')) {
            // It names the file and line of what it did not take, and stays up without it.
            outcome = Wait::Refused;
        } else if (listensOnPort()) {
            outcome = Wait::Listening;
        } else if (!deadline.hasExpired()) {
            return;
        }
        loop.quit();
    };
    QObject::connect(&look, &QTimer::timeout, &loop, check);
    QObject::connect(m_process.get(), &QProcess::finished, &loop, check);
    look.start(kLookMs);
    check();
    if (outcome == Wait::TimedOut && !deadline.hasExpired())
        loop.exec();
    return outcome;
}

bool Ser2netProcess::listensOnPort() const
{
    // A connection to see whether it answers would make ser2net open the device (and set its
    // line) before the test begins, and could reach whoever took the port instead. The kernel's
    // table of listening sockets, held against ser2net's own descriptors, says it plainly.
    const QSet<QByteArray> inodes = socketInodes(m_process->processId());
    if (inodes.isEmpty())
        return false;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() > 9 && fields[1] == local && fields[3] == "0A" && inodes.contains(fields[9]))
            return true;
    }
    return false;
}

void Ser2netProcess::stop()
{
    endProcess(false);
}

void Ser2netProcess::kill()
{
    endProcess(true);
}

void Ser2netProcess::endProcess(bool hard)
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning && !hard) {
        m_process->terminate();
        // With a port it could not listen on, ser2net ends only at a second SIGTERM.
        for (int round = 0; round < 2 && !m_process->waitForFinished(kStopMs); ++round)
            m_process->terminate();
    }
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(kStopMs);
    }
    m_process.reset();
}

bool Ser2netProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 Ser2netProcess::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QByteArray Ser2netProcess::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("ser2net.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::optional<int> terminalBitsPerSecond(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    termios tio{};
    const bool read = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    if (!read)
        return std::nullopt;
    switch (::cfgetospeed(&tio)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return std::nullopt;
    }
}
