#pragma once

#include "control/CardControl.h"
#include "protocol/Frame.h"
#include "control/LinkDiagnostics.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QElapsedTimer>
#include <QTimer>
#include <optional>

class LinkJournal;
class LinkTransport;
class ModemLines;
class QEventLoop;

// The card control: speaks the device's frame protocol over a serial port or a TCP connection.
//
// Link: OpenLink, StartLink, any number of commands, StopLink, CloseLink. CommStatus reports
// 0 (no link), 1 (open, not started or stopped), 2 (started, idle), 3 (a command runs).
//
// A command: the command frame goes out; the device answers ACK or NAK at once, and a NAK makes
// the control send the frame again, three sends in all. Then the device sends its response
// frame, which the control answers with ACK, or with NAK when the frame is damaged (three
// damaged frames end the command). ErrorCode, ResponseCode and ResponseData then describe the
// outcome.
//
// Every change of CommStatus away from 3 happens either inside the caller's own call
// (AbortCommand, StopLink, CloseLink) or inside event processing (line data, the time-out timer,
// a queued call), never behind the caller's back; so a wait that blocks for the next event
// always wakes up when the command ends.
//
// Besides the card-control operations the control reports on its link: failures on standard error
// (category brindle.link), the reason of the last failed OpenLink (LinkDiagnostics), and, when a
// journal is set, every event and frame of the link into that journal.
class Plenko : public QObject, public CardControl, public LinkDiagnostics
{
    Q_OBJECT
public:
    // What OpenLink returns.
    enum OpenResult : qint32 {
        Opened = 0,
        NoSuchPort = 1,         // port number below 1, or no device at its path
        CannotOpen = 2,         // the device exists but does not open (busy, no permission, not a tty)
        ConnectionFailed = 3,   // the network refused the connection or cannot reach the address,
                                // or the connection dropped again before OpenLink returned
        ConnectTimedOut = 4,    // not connected within kConnectTimeoutMs
        AlreadyOpen = 5,        // a link is open or being connected; nothing changes
        ArgumentsNotUnderstood = 6, // a speed code outside 0-5, or neither the serial nor the network form
        ConnectInterrupted = 7, // CloseLink, the control's end or the application's end came during the wait
    };

    // What SendCommand returns.
    enum SendResult : qint32 {
        Accepted = 0,
        LinkNotStarted = 1,
        CommandRunning = 2,
        CodeOutOfRange = 3,   // outside 0-255
        ParameterTooLong = 4, // more than kMaxParameter bytes
    };

    // What StartLink returns.
    enum StartResult : qint32 { Started = 0, NothingOpen = 1 };

    static constexpr qint32 kVersion = 3;
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr int kMaxSends = 3;
    static constexpr int kMaxBadResponses = 3;
    static constexpr int kMaxParameter = Wire::kMaxBody - 1; // one body byte is the command code
    // After a command given up while the device may still be sending for it, the next frame waits
    // until no byte has come for kQuietGapMs (five byte times at 2400 bit/s), kMaxSettleMs at most.
    static constexpr int kQuietGapMs = 20;
    static constexpr int kMaxSettleMs = 100;

    explicit Plenko(QObject *parent = nullptr);
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

    QString lastOpenFailure() const override { return m_openFailure; }

    // Records the link into journal from now on (nullptr: no record). Not owned: the journal must
    // stay alive while it is set.
    void setJournal(LinkJournal *journal);

    // Replaces the serial port's own modem-line reading (nullptr restores it). Not owned: the
    // object must stay alive while it is set.
    void setModemLinesForTesting(ModemLines *lines) { m_modemLinesOverride = lines; }

    // Line speed in bit/s for a speed code (0, before any choice, runs at 9600); 0 when unknown.
    static qint32 baudRateFor(qint32 speedCode);

private:
    enum class Link { None, Connecting, Open, Started };
    // Settling: accepted, the frame waits for a quiet line (forgetCutFrame).
    enum class Phase { Ending, Settling, AwaitAck, AwaitResponse };

    struct Command
    {
        QByteArray frame;
        Phase phase = Phase::AwaitAck;
        int sends = 0;
        int badResponses = 0;
        // For the journal.
        QByteArray parameter;
        qint32 timeoutMs = 0;
        bool dsrCheck = false;
        bool announced = false; // its "command" line is written
    };

    // The state of one network OpenLink's wait; lives on that call's stack.
    struct ConnectWait
    {
        enum class Outcome { Pending, Connected, Failed, Refused, TimedOut, Interrupted };
        QEventLoop *loop = nullptr;
        Outcome outcome = Outcome::Pending;
    };

    qint32 openSerial(qint32 port, qint32 speedCode);
    qint32 openNetwork(quint32 address);
    void attach(LinkTransport *transport);
    void detach();
    void interruptConnectWait();

    void handleBytes(const QByteArray &bytes);
    void handleItem(const FrameReader::Item &item);
    void handleLinkLost(quint64 linkGeneration);
    void handleTimeout();
    void endCommand(qint32 errorCode, qint32 responseCode = 0, const QByteArray &data = {});
    void endCommandLater(qint32 errorCode);
    void sendFrame();
    void sendByte(char byte);
    void forgetCutFrame();
    void lineSettled();
    void openFailed(qint32 result, const QString &what, const QString &reason, const QString &hint = {});
    void journalBytes(bool incoming, const char *kind, QByteArrayView bytes);
    void journalCommand();
    void journalEnd();

    Link m_link = Link::None;
    LinkTransport *m_transport = nullptr;
    quint64 m_linkGeneration = 0;    // a lost() report only ends the link it came from
    quint64 m_commandGeneration = 0; // a queued end only ends the command it was queued for
    ConnectWait *m_connectWait = nullptr;
    ModemLines *m_modemLinesOverride = nullptr;

    FrameReader m_reader;
    // A command was given up while the device may still be sending for it.
    bool m_lineUnsettled = false;
    QTimer m_quietGap;
    QElapsedTimer m_settleClock;
    std::optional<Command> m_command;
    QTimer m_timeout;

    // What the diagnostics and the journal say about the link.
    LinkJournal *m_journal = nullptr;
    QString m_linkDescription;  // "COM1 (/dev/ttyUSB0, 9600 bit/s)", "127.0.0.1 port 10001"
    QString m_openFailure;
    bool m_dsrReportedInactive = false;
    qint32 m_commandCode = 0;
    QElapsedTimer m_commandClock;

    qint32 m_errorCode = LinkError::None;
    qint32 m_responseCode = 0;
    QByteArray m_responseData;
};
