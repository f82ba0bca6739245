#pragma once

#include "control/CardControl.h"
#include "control/CommandExchange.h"
#include "control/ExchangeClock.h"
#include "control/LinkConnection.h"
#include "control/LinkDiagnostics.h"
#include "control/LinkRecorder.h"

#include <QObject>

class LinkEndpoints;
class LinkJournal;
class ModemLines;

// The card control: speaks the device's frame protocol over a serial port or a TCP connection.
//
// Link: OpenLink, StartLink, any number of commands, StopLink, CloseLink. CommStatus reports
// 0 (no link), 1 (open, not started or stopped), 2 (started, idle), 3 (a command runs).
//
// This class checks the calls and answers them; the work is done by its parts:
//   LinkConnection   opens, holds and loses the link (serial port or network address)
//   CommandExchange  runs one command over it: frame, ACK/NAK, resends, response, time-out
//   LinkRecorder     says what happened: standard error (brindle.link) and the journal
//
// Every change of CommStatus away from 3 happens either inside the caller's own call
// (AbortCommand, StopLink, CloseLink) or inside event processing (line data, the time-out timer,
// a queued call), never behind the caller's back; so a wait that blocks for the next event
// always wakes up when the command ends.
class Plenko : public QObject, public CardControl, public LinkDiagnostics
{
    Q_OBJECT
public:
    static constexpr qint32 kVersion = 3;
    static constexpr int kConnectTimeoutMs = LinkConnection::kConnectTimeoutMs;
    static constexpr int kMaxSends = CommandExchange::kMaxSends;
    static constexpr int kMaxBadResponses = CommandExchange::kMaxBadResponses;
    static constexpr int kQuietGapMs = CommandExchange::kQuietGapMs;
    static constexpr int kMaxSettleMs = CommandExchange::kMaxSettleMs;

    // The links are where endpoints says (LinkEndpoints::standard() when none is given: the
    // environment and the defaults). Not owned: the endpoints must outlive the control; the
    // control reads them at each OpenLink.
    explicit Plenko(QObject *parent = nullptr);
    explicit Plenko(const LinkEndpoints &endpoints, QObject *parent = nullptr);
    ~Plenko() override;

    QVariant Version() override;
    QVariant CommStatus() override;
    QVariant ErrorCode() override;
    QVariant ResponseCode() override;
    QVariant ResponseData() override;

    // Serial: (port >= 1, speed code 0-5, 1, 1). Network: (packed IPv4 address, -1, -1, -1).
    // The references are read, never written. The network form waits up to kConnectTimeoutMs for
    // the connection in a local event loop, so the window keeps working meanwhile; see
    // docs/wire-protocol.md for what other calls do during that wait.
    QVariant OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4) override;
    QVariant CloseLink() override;
    // The control has one way of working; the mode is accepted and not looked at.
    QVariant StartLink(qint32 mode) override;
    QVariant StopLink() override;
    // Time-out in milliseconds from the first send of the frame to the complete response; 0 or
    // less waits without limit. The DSR check applies to a serial link only.
    QVariant SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck) override;
    QVariant AbortCommand() override;

    QString lastOpenFailure() const override { return m_connection.lastOpenFailure(); }

    // Records the link into journal from now on (nullptr: no record). Not owned: the journal must
    // stay alive while it is set.
    void setJournal(LinkJournal *journal);

    // Replaces the serial port's own modem-line reading (nullptr restores it). Not owned: the
    // object must stay alive while it is set.
    void setModemLinesForTesting(ModemLines *lines) { m_connection.setModemLinesForTesting(lines); }

private:
    const LinkEndpoints &m_endpoints;
    // Declared in this order so that the exchange goes first and the recorder last.
    LinkRecorder m_recorder;
    SystemExchangeClock m_clock;
    LinkConnection m_connection;
    CommandExchange m_exchange;
};
