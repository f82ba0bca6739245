#include "PtyLink.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reading stops (and the kernel holds the client back) while this much waits to be paced in.
constexpr qsizetype kIncomingLimit = 1 << 20;
// A client that stops reading cannot make the emulator hoard its answers without end.
constexpr qsizetype kBacklogLimit = 1 << 20;

} // namespace

PtyLink::PtyLink(QString linkPath, QObject *parent)
    : Link(parent), m_linkPath(std::move(linkPath)),
      m_outgoing([this](const QByteArray &bytes) { writeNow(bytes); }),
      m_incoming([this](const QByteArray &bytes) { emit received(bytes); })
{
    connect(&m_outgoing, &PacedPipe::drained, this, [this] {
        if (m_hangUpPending && m_backlog.isEmpty())
            hangUp();
    });
    connect(&m_incoming, &PacedPipe::drained, this, [this] {
        if (m_readNotifier)
            m_readNotifier->setEnabled(true);
    });
}

PtyLink::~PtyLink()
{
    shutdown();
}

void PtyLink::setWireSpeed(int bps)
{
    m_outgoing.setBitsPerSecond(bps);
    m_incoming.setBitsPerSecond(bps);
}

bool PtyLink::open(QString *error)
{
    const QFileInfo existing(m_linkPath);
    if (existing.exists() && !existing.isSymLink()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(m_linkPath);
        return false;
    }

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    // Link under a temporary name, then rename over the path: a client never sees it missing,
    // and a stale link from an earlier run is replaced.
    const QByteArray target = QByteArray(name);
    const QByteArray path = QFile::encodeName(m_linkPath);
    const QByteArray temporary = path + ".new" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(target.constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), path.constData()) != 0) {
        *error = QStringLiteral("cannot link %1 to %2: %3")
                     .arg(m_linkPath, QString::fromLocal8Bit(target), QString::fromLocal8Bit(strerror(errno)));
        ::unlink(temporary.constData());
        ::close(master);
        ::close(slave);
        return false;
    }

    m_master = master;
    m_slave = slave;
    m_slaveName = QString::fromLocal8Bit(target);
    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyLink::readMaster);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyLink::writeBacklog);
    return true;
}

void PtyLink::closeFds()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_backlog.clear();
    m_outgoing.clear();
    m_incoming.clear();
    m_hangUpPending = false;
    m_hangUpStarted = false;
}

void PtyLink::shutdown()
{
    if (m_master < 0)
        return;
    // Remove the link only when it is still ours.
    const QByteArray path = QFile::encodeName(m_linkPath);
    char target[256] = {};
    const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
    if (length > 0 && QByteArray(target, int(length)) == QFile::encodeName(m_slaveName))
        ::unlink(path.constData());
    closeFds();
}

void PtyLink::readMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_incoming.push(QByteArray(buffer, int(n)));
            if (m_incoming.queued() > kIncomingLimit) {
                m_readNotifier->setEnabled(false); // until the paced bytes have been taken in
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of file or an error: the slave is gone although we hold it. Stop listening rather
        // than be woken for the same condition again and again.
        m_readNotifier->setEnabled(false);
        return;
    }
}

void PtyLink::send(const QByteArray &bytes)
{
    if (m_master < 0 || m_hangUpPending)
        return;
    m_outgoing.push(bytes);
}

void PtyLink::writeNow(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    if (!m_backlog.isEmpty()) {
        if (m_backlog.size() + bytes.size() <= kBacklogLimit)
            m_backlog.append(bytes);
        return;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // full (the client is not reading) or gone: keep the rest for later
        }
    }
    if (done < bytes.size()) {
        m_backlog = bytes.sliced(done);
        m_writeNotifier->setEnabled(true);
    }
}

void PtyLink::writeBacklog()
{
    const ssize_t n = ::write(m_master, m_backlog.constData(), size_t(m_backlog.size()));
    if (n > 0)
        m_backlog.remove(0, n);
    if (m_backlog.isEmpty()) {
        m_writeNotifier->setEnabled(false);
        if (m_hangUpPending && m_outgoing.queued() == 0)
            hangUp();
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        m_backlog.clear();
        m_writeNotifier->setEnabled(false);
    }
}

void PtyLink::closeAfterSending()
{
    if (m_master < 0)
        return;
    m_hangUpPending = true;
    if (m_outgoing.queued() == 0 && m_backlog.isEmpty())
        hangUp();
}

void PtyLink::hangUp()
{
    // The kernel throws away what the client has not read yet when the master closes, so give
    // the client a moment (bounded) to take the last bytes: a hang-up in the middle of a frame
    // must leave that half frame on the client's side. Bytes written to the master reach the
    // slave's input count a little later (the kernel moves them in a worker), hence a grace
    // period before the first look.
    if (m_hangUpStarted)
        return;
    m_hangUpStarted = true;
    m_drainWaits = 0;
    QTimer::singleShot(50, this, &PtyLink::finishHangUp);
}

void PtyLink::finishHangUp()
{
    constexpr int kStepMs = 5;
    constexpr int kMaxSteps = 100;
    if (!m_hangUpStarted)
        return; // shut down meanwhile
    int unread = 0;
    if (m_drainWaits < kMaxSteps && m_slave >= 0 && ::ioctl(m_slave, FIONREAD, &unread) == 0 && unread > 0) {
        ++m_drainWaits;
        QTimer::singleShot(kStepMs, this, &PtyLink::finishHangUp);
        return;
    }
    closeFds();
    QString error;
    if (!open(&error))
        qWarning("kestra-emu: %s", qPrintable(error));
    emit closed();
}
