#pragma once

#include "control/ExchangeClock.h"
#include "control/LinkEvents.h"
#include "protocol/Frame.h"

#include <QObject>

#include <memory>
#include <optional>

class LinkTransport;

// One command at a time over a byte link, by the device's frame protocol.
//
// The command frame goes out; the device answers ACK or NAK at once, and a NAK makes the exchange
// send the frame again, kMaxSends sends in all. Then the device sends its response frame, which
// the exchange answers with ACK, or with NAK when the frame is damaged (kMaxBadResponses damaged
// frames end the command). A time-out runs from the first send to the complete response.
//
// What is on the line when a command starts may belong to one given up before it: a late
// answer, the rest of a cut frame, a held-up ACK. None of it is taken for the new command's (see
// forgetCutFrame and the frame rules in handleItem).
//
// A command ends inside the caller's own call (abort, end) or inside event processing (line data,
// a timer, a queued end), never behind the caller's back.
class CommandExchange : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxSends = 3;
    static constexpr int kMaxBadResponses = 3;
    // After a command given up while the device may still be sending for it, the next frame waits
    // until no byte has come for kQuietGapMs (five byte times at 2400 bit/s), kMaxSettleMs at most.
    static constexpr int kQuietGapMs = 20;
    static constexpr int kMaxSettleMs = 100;

    CommandExchange(LinkEvents &events, ExchangeClock &clock, QObject *parent = nullptr);
    ~CommandExchange() override;

    // The link the exchange reads and writes from now on (nullptr: none). Whatever was half-read
    // on the link before is forgotten.
    void setTransport(LinkTransport *transport);
    // Whether bytes skipped outside frames are told (as Stray): only a record wants them.
    void setReportStray(bool on) { m_reader.setReportStray(on); }

    bool isRunning() const { return m_command.has_value(); }
    const CommandResult &outcome() const { return m_outcome; }

    // Starts a command; the caller has checked it (code, length, a link, nothing running).
    void start(const CommandRequest &request);
    // Starts a command that sends nothing and ends with errorCode; the end comes from the event
    // loop, like any other.
    void startFailed(const CommandRequest &request, qint32 errorCode);
    // The caller gives the running command up (abort, stop): its answer may still be on its way.
    void abandon();
    // Ends the running command with errorCode at once (the link is closed or gone).
    void end(qint32 errorCode);

private:
    // Settling: accepted, the frame waits for a quiet line (forgetCutFrame).
    enum class Phase { Ending, Settling, AwaitAck, AwaitResponse };

    struct Command
    {
        CommandRequest request;
        QByteArray frame;
        Phase phase = Phase::AwaitAck;
        int sends = 0;
        int badResponses = 0;
        bool announced = false; // commandStarted has been told
    };

    void begin(const CommandRequest &request);
    void announce();
    void handleBytes(const QByteArray &bytes);
    void handleItem(const FrameReader::Item &item);
    void handleTimeout();
    void lineSettled();
    void sendFrame();
    void sendByte(char byte);
    void forgetCutFrame();
    void finish(qint32 errorCode, qint32 responseCode = 0, const QByteArray &data = {});

    LinkEvents &m_events;
    ExchangeClock &m_clock;
    LinkTransport *m_transport = nullptr;
    FrameReader m_reader;
    std::optional<Command> m_command;
    quint64 m_generation = 0; // a queued end only ends the command it was queued for
    qint64 m_startedAt = 0;
    // A command was given up while the device may still be sending for it.
    bool m_lineUnsettled = false;
    qint64 m_settleStartedAt = 0;
    std::unique_ptr<ExchangeClock::Timer> m_timeout;
    std::unique_ptr<ExchangeClock::Timer> m_quietGap;
    CommandResult m_outcome;
};
