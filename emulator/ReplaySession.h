#pragma once

#include "Link.h"
#include "ReplayBook.h"
#include "Session.h"
#include "protocol/Frame.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

// The device's side of one link, answering as the journal says the recorded device did. Each
// command frame that comes is held against the next one recorded: when they are the same, what
// the device sent after it goes out again with the recorded delays, and the control's ACKs and
// NAKs are expected as recorded. A frame that differs is told (ReplayBook) and answered by the
// ordinary emulated device. Where the recorded link was lost, the device hangs up; a new TCP
// connection plays the recording's next session.
class ReplaySession : public QObject
{
    Q_OBJECT
public:
    ReplaySession(Link *link, ReplayGroup group, ReplayBook *book, DeviceModel *model, TraceLog *trace,
                  QObject *parent = nullptr);
    ~ReplaySession() override;

    // The line was dropped: forgets the recorded answer in progress (the recording goes on).
    void reset();
    // The client closed the link: a recorded ACK or NAK that is still awaited never comes.
    void linkClosed();

signals:
    // The last recorded step has been played (or given up): nothing more is to come.
    void played();

private:
    void receive(const QByteArray &bytes);
    void onFrame(const QByteArray &frame);
    void onHandshake(char byte);
    void play();            // performs the steps that are due, then waits for the next
    void giveUpWaiting();   // an expected ACK or NAK did not come
    // Ends the steps in hand before their time (a new frame came, the link closed); true when
    // a recorded hang-up lies ahead.
    bool cutSegment(const QString &cause);
    void hangUp(const ReplaySegment::Step &step);
    void checkPlayed();
    void send(const QByteArray &what, const QByteArray &bytes);
    QString where(qint64 line) const;
    static QString hex(const QByteArray &bytes);

    Link *m_link;
    ReplayGroup m_group;
    ReplayBook *m_book;
    TraceLog *m_trace;
    FrameReader m_reader;

    ReplaySegment m_segment;
    bool m_playing = false;
    qsizetype m_next = 0;       // the next step of m_segment
    qint64 m_previousMs = 0;    // the journal's time of the step before
    QByteArray m_handshakes;    // ACKs and NAKs from the control not yet matched with the recording
    bool m_tookSegment = false; // this link has had a recorded frame
    bool m_hungUp = false;      // hung up as recorded: nothing more is taken in on this line
    QTimer m_stepTimer;
    QTimer m_giveUpTimer;

    // The ordinary device, for frames the recording does not have.
    class ForwardLink;
    std::unique_ptr<ForwardLink> m_forward;
    std::unique_ptr<Session> m_fallback;
    bool m_fallbackActive = false;
};
