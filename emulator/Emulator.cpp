#include "Emulator.h"

#include "PtyLink.h"
#include "Session.h"
#include "SurfaceImage.h"
#include "TcpLink.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Once the recording has been played, how long a client that neither closes nor sends is waited
// for before the replay ends.
constexpr int kReplayEndWaitMs = 1500;

} // namespace

Emulator::Emulator(EmulatorOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_faults(m_options.fault, m_options.faultMix)
{
    m_replayEnd.setSingleShot(true);
    connect(&m_replayEnd, &QTimer::timeout, this, [] { QCoreApplication::quit(); });
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
    if (!m_options.replayPath.isEmpty() && !checkReplay(error))
        return false;
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
        if (m_replay) {
            m_ptyReplay = std::make_unique<ReplaySession>(m_pty.get(), ReplayGroup::Pty, m_replay.get(), &m_model,
                                                          &m_trace);
            watchReplay(m_ptyReplay.get(), m_pty.get());
        } else
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

bool Emulator::checkReplay(QString *error)
{
    m_replay = std::make_unique<ReplayBook>(m_options.replayPath, m_options.replayChoice, &m_trace);
    if (!m_replay->check(error)) {
        m_startFailureStatus = m_replay->refused() ? 2 : 1;
        return false;
    }
    // A recording that no client could reach here is refused before anything listens.
    const QString link = QString::fromUtf8(m_replay->link());
    if (!link.isEmpty() && m_replay->group() == ReplayGroup::Pty && m_options.ptyPath.isEmpty()) {
        *error = QStringLiteral("%1: the sessions to replay are on %2: they replay on a pseudo-terminal (--pty PATH)")
                     .arg(m_options.replayPath, link);
        m_startFailureStatus = 2;
        return false;
    }
    if (!link.isEmpty() && m_replay->group() == ReplayGroup::Tcp && !m_options.tcp) {
        *error = QStringLiteral("%1: the sessions to replay are on tcp: they replay on TCP, not with --no-tcp")
                     .arg(m_options.replayPath);
        m_startFailureStatus = 2;
        return false;
    }
    return true;
}

void Emulator::watchReplay(ReplaySession *session, Link *link)
{
    connect(session, &ReplaySession::played, this, [this] {
        m_replayPlayed = true;
        m_replayEnd.start(kReplayEndWaitMs);
    });
    // A client still talking after the end (frames the recording does not have) is answered.
    connect(link, &Link::received, this, [this] {
        if (m_replayPlayed)
            m_replayEnd.start(kReplayEndWaitMs);
    });
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
        ReplaySession *replay = nullptr;
        if (m_replay) {
            replay = new ReplaySession(link, ReplayGroup::Tcp, m_replay.get(), &m_model, &m_trace, link);
            watchReplay(replay, link);
        } else
            new Session(link, &m_model, &m_faults, &m_trace, sessionSettings(), link);
        m_trace.event(link->name(), QStringLiteral("connected from %1").arg(link->peer()));
        connect(link, &TcpLink::overflowed, this, [this, link] {
            m_trace.event(link->name(), QStringLiteral("the client leaves its answers unread: hanging up"));
        });
        connect(link, &Link::closed, this, [this, link, replay] {
            m_trace.event(link->name(), QStringLiteral("closed"));
            if (replay)
                replay->linkClosed();
            link->deleteLater();
            // The client has gone after the recording's last frame came: the replay is over.
            if (m_replay && m_replay->group() == ReplayGroup::Tcp && m_replay->exhausted())
                m_replayEnd.start(0);
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
