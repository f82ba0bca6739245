#include "Emulator.h"

#include "PtyLink.h"
#include "Session.h"
#include "SurfaceImage.h"
#include "TcpLink.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

Emulator::Emulator(EmulatorOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_faults(m_options.fault, m_options.faultMix)
{
    m_model.setReinsertMs(m_options.reinsertMs);
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, &Emulator::acceptConnections);
    connect(&m_model, &DeviceModel::cardMoved, this, [this](bool present) {
        m_trace.event(QStringLiteral("device"), present ? QStringLiteral("card inserted") : QStringLiteral("card ejected"));
    });
    if (!m_options.surfacePng.isEmpty())
        connect(&m_model, &DeviceModel::surfaceChanged, this, &Emulator::writeSurface);
}

Emulator::~Emulator()
{
    shutdown();
}

bool Emulator::start(QString *error)
{
    m_trace.setToStderr(m_options.trace);
    if (!m_options.traceFile.isEmpty() && !m_trace.openFile(m_options.traceFile, error))
        return false;
    if (!m_options.replayPath.isEmpty()) {
        m_replay = std::make_unique<ReplayBook>(m_options.replayPath, &m_trace);
        if (!m_replay->check(error))
            return false;
    }
    if (m_options.tcp && !m_server.listen(m_options.tcpHost, m_options.tcpPort)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(m_options.tcpHost.toString())
                     .arg(m_options.tcpPort)
                     .arg(m_server.errorString());
        return false;
    }
    if (!m_options.ptyPath.isEmpty()) {
        m_pty = std::make_unique<PtyLink>(m_options.ptyPath);
        m_pty->setWireSpeed(m_options.wireSpeed);
        if (!m_pty->open(error)) {
            m_pty.reset();
            m_server.close();
            return false;
        }
        if (m_replay)
            m_ptyReplay = std::make_unique<ReplaySession>(m_pty.get(), ReplayGroup::Pty, m_replay.get(), &m_model,
                                                          &m_trace);
        else
            m_ptySession = std::make_unique<Session>(m_pty.get(), &m_model, &m_faults, &m_trace,
                                                     sessionSettings());
        connect(m_pty.get(), &Link::closed, this, [this] {
            if (m_ptyReplay)
                m_ptyReplay->reset();
            else
                m_ptySession->reset();
            m_trace.event(QStringLiteral("pty"), QStringLiteral("hung up; %1 now leads to %2")
                                                     .arg(m_pty->linkPath(), m_pty->slaveName()));
        });
        m_trace.event(QStringLiteral("pty"), QStringLiteral("%1 -> %2").arg(m_pty->linkPath(), m_pty->slaveName()));
    }
    return true;
}

void Emulator::shutdown()
{
    m_server.close();
    m_ptySession.reset();
    m_ptyReplay.reset();
    if (m_pty)
        m_pty->shutdown();
    m_pty.reset();
}

quint16 Emulator::tcpPort() const
{
    return m_server.serverPort();
}

QHostAddress Emulator::tcpAddress() const
{
    return m_server.serverAddress();
}

QString Emulator::ptyPath() const
{
    return m_pty ? m_pty->linkPath() : QString();
}

void Emulator::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *link = new TcpLink(socket, ++m_connections, this);
        if (m_replay)
            new ReplaySession(link, ReplayGroup::Tcp, m_replay.get(), &m_model, &m_trace, link);
        else
            new Session(link, &m_model, &m_faults, &m_trace, sessionSettings(), link);
        m_trace.event(link->name(), QStringLiteral("connected from %1").arg(link->peer()));
        connect(link, &TcpLink::overflowed, this, [this, link] {
            m_trace.event(link->name(), QStringLiteral("the client leaves its answers unread: hanging up"));
        });
        connect(link, &Link::closed, this, [this, link] {
            m_trace.event(link->name(), QStringLiteral("closed"));
            link->deleteLater();
        });
    }
}

int Emulator::finish(int status)
{
    if (!m_replay)
        return status;
    const QString summary = m_replay->summary();
    m_trace.event(QStringLiteral("device"), summary);
    std::fprintf(stderr, "kestra-emu: %s\n", qPrintable(summary));
    return status != 0 ? status : m_replay->exitStatus();
}

Session::Settings Emulator::sessionSettings() const
{
    Session::Settings settings;
    settings.timeScale = m_options.timeScale;
    settings.answerIds = m_options.answerIds;
    return settings;
}

void Emulator::writeSurface()
{
    QString error;
    if (!writeSurfacePng(m_model.surface(), m_options.surfacePng, &error))
        m_trace.event(QStringLiteral("device"), error);
}

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

void quitOnTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}
