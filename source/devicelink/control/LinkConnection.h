#pragma once

#include "control/LinkEvents.h"
#include "transport/LinkTransport.h"

#include <QObject>
#include <QString>

#include <optional>

class ModemLines;
class QEventLoop;

// The control's link to the device: opens a serial port or connects to a network address (with
// the connect wait), holds the transport, notices its loss and says why, and tears it down.
// Commands are not its business: whoever runs them follows transportChanged() and lost().
//
// Each transport it holds gets a generation, so that a loss reported by a link already torn down
// (the report is queued) never ends the link that replaced it.
class LinkConnection : public QObject
{
    Q_OBJECT
public:
    enum class State { None, Connecting, Open, Started };

    static constexpr int kConnectTimeoutMs = 3000;

    explicit LinkConnection(LinkEvents &events, QObject *parent = nullptr);
    ~LinkConnection() override;

    State state() const { return m_state; }

    // CardControl::OpenResult values. The connect wait runs a local event loop; see openNetwork.
    qint32 openSerial(qint32 port, qint32 speedCode);
    qint32 openNetwork(quint32 address);
    // Records a failed OpenLink (result, what was asked for, why, what to do) and returns result.
    qint32 failOpen(qint32 result, const QString &what, const QString &reason, const QString &hint = {});
    // Why the last OpenLink failed; empty after one that opened.
    QString lastOpenFailure() const { return m_openFailure; }

    // Open <-> Started; false when there is nothing to start.
    bool start();
    void stop();
    // Closes whatever is open or being connected.
    void close();

    // The DSR check of a command: true when the serial line reports DSR inactive. Said once until
    // DSR comes back, not once per command that finds it off. A link without modem lines (TCP, a
    // pseudo-terminal) never reports it inactive.
    bool dsrInactive();
    // Replaces the serial port's own modem-line reading (nullptr restores it). Not owned.
    void setModemLinesForTesting(ModemLines *lines) { m_modemLinesOverride = lines; }

signals:
    // A transport was attached (the link's bytes come from it now), or nullptr: it was torn down.
    void transportChanged(LinkTransport *transport);
    // The link went away on its own; emitted after the loss is told and before the teardown.
    void lost();

private:
    // The state of one network open's wait; lives on that call's stack.
    struct ConnectWait
    {
        enum class Outcome { Pending, Connected, Failed, Refused, TimedOut, Interrupted };
        QEventLoop *loop = nullptr;
        Outcome outcome = Outcome::Pending;
    };

    void attach(LinkTransport *transport);
    void detach();
    void announceOpen(const QString &what, const char *how);
    void interruptConnectWait();
    void handleLost(quint64 generation);

    LinkEvents &m_events;
    State m_state = State::None;
    LinkTransport *m_transport = nullptr;
    quint64 m_generation = 0;
    ConnectWait *m_connectWait = nullptr;
    ModemLines *m_modemLinesOverride = nullptr;
    QString m_description; // "COM1 (/dev/ttyUSB0, 9600 bit/s)", "127.0.0.1 port 10001"
    QString m_openFailure;
    bool m_dsrReportedInactive = false;
};
