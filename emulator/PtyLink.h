#pragma once

#include "Link.h"
#include "PacedPipe.h"

#include <QSocketNotifier>

#include <memory>

// The device end of a pseudo-terminal whose slave side is reachable through a symbolic link, so
// that a serial client opening that path talks to the emulator. The emulator keeps one descriptor
// of the slave open itself: without it the master sees a hang-up whenever the client closes the
// port, and its read notifier would fire without end. When the link is hung up on purpose
// (closeAfterSending), the master is closed, which the client sees as a vanished port, and a
// fresh pseudo-terminal is linked at the same path for the next client.
class PtyLink : public Link
{
    Q_OBJECT
public:
    explicit PtyLink(QString linkPath, QObject *parent = nullptr);
    ~PtyLink() override;

    // False with a reason when no pseudo-terminal could be opened or the path cannot be linked.
    bool open(QString *error);
    // Removes the symbolic link (if it still points at our slave) and closes everything.
    void shutdown();

    void setWireSpeed(int bps);
    QString name() const override { return QStringLiteral("pty"); }
    QString linkPath() const { return m_linkPath; }
    QString slaveName() const { return m_slaveName; }
    void send(const QByteArray &bytes) override;
    void closeAfterSending() override;

private:
    void closeFds();
    void readMaster();
    void writeBacklog();
    void writeNow(const QByteArray &bytes);
    void hangUp();
    void finishHangUp();

    QString m_linkPath;
    QString m_slaveName;
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QByteArray m_backlog;     // accepted by the line but not yet by the kernel
    PacedPipe m_outgoing;
    PacedPipe m_incoming;
    bool m_hangUpPending = false;
    bool m_hangUpStarted = false;
    int m_drainWaits = 0;
};
