#pragma once

#include "control/LinkEvents.h"
#include "transport/LinkTransport.h"

#include <QObject>
#include <QString>

#include <optional>

class ModemLines;
class QEventLoop;

// The control's link to the device: has the transport registered for an address's kind open it
// (TransportTable), with the connect wait for one that opens later; holds the transport, notices
// its loss and tells it, and tears it down. It formats no text: the hooks carry the address and
// the failure, and LinkWords has the words. Commands are not its business: whoever runs them
// follows transportChanged() and lost().
//
// Each transport it holds gets a generation, so that a loss reported by a link already torn down
// (the report is queued) never ends the link that replaced it.
class LinkConnection : public QObject
{
    Q_OBJECT
public:
    enum class State { None, Connecting, Open, Started };

    static constexpr int kConnectTimeoutMs = LinkTransport::kOpenLimitMs;

    explicit LinkConnection(LinkEvents &events, QObject *parent = nullptr);
    ~LinkConnection() override;

    State state() const { return m_state; }

    // Opens the link address names; a CardControl::OpenResult value. The connect wait of a
    // transport that opens later runs a local event loop; see openLater.
    qint32 open(const LinkAddress &address);
    // Records an OpenLink of neither form and returns ArgumentsNotUnderstood.
    qint32 refuse(const OpenCall &call);
    // Why the last OpenLink failed (LinkWords::failureReason); empty after one that opened.
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

    qint32 openAtOnce(LinkTransport *transport, const LinkAddress &address);
    qint32 openLater(LinkTransport *transport, const LinkAddress &address);
    // Records a failed open and returns its OpenLink result.
    qint32 fail(const LinkAddress &address, const LinkFailure &failure);
    void attach(LinkTransport *transport, const LinkAddress &address);
    void detach();
    void announceOpen();
    void interruptConnectWait();
    void handleLost(quint64 generation);

    LinkEvents &m_events;
    State m_state = State::None;
    LinkTransport *m_transport = nullptr;
    quint64 m_generation = 0;
    ConnectWait *m_connectWait = nullptr;
    ModemLines *m_modemLinesOverride = nullptr;
    LinkAddress m_address; // the link attached last: what closes, losses and DSR reports name
    QString m_openFailure;
    bool m_dsrReportedInactive = false;
    // A device server's reports during the open, told after it.
    struct HeldReport
    {
        std::optional<QString> signature;
        std::optional<bool> dsr;
    };
    HeldReport m_heldReport;
};
