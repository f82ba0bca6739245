#pragma once

#include "DeviceModel.h"
#include "Faults.h"
#include "Trace.h"

#include <QObject>
#include <QTimer>

class Link;

// The device's side of the protocol on one link. A sound command frame is answered ACK at once
// (NAK when it is malformed); when the operation time is over the response frame goes out and
// waits for ACK. On NAK it is sent again, three sends at most; without ACK or NAK within a second
// it is dropped. A command frame that arrives while an earlier command is still running, or its
// response still waits for ACK, abandons the earlier one: its response never goes out, so it can
// never be taken for the answer to the new command.
class Session : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        double timeScale = 1.0;
        int ackWaitMs = 1000;
        // Each response's data starts with the identity of the command frame it answers: the
        // frame's number on this link (4 bytes, big-endian, from 1) and its command code. A
        // checker can then tell which command every answer belongs to.
        bool answerIds = false;
    };

    Session(Link *link, DeviceModel *model, FaultPolicy *faults, TraceLog *trace, Settings settings,
            QObject *parent = nullptr);

    // Forgets the command in hand and any half-received frame (the line was dropped).
    void reset();

private:
    enum class State { Idle, Working, AwaitingAck };

    void receive(const QByteArray &bytes);
    void onCommand(const QByteArray &body);
    void finishOperation();
    void sendResponse();
    void abandon(const char *why);
    void send(const char *kind, const QByteArray &bytes);

    Link *m_link;
    DeviceModel *m_model;
    FaultPolicy *m_faults;
    TraceLog *m_trace;
    Settings m_settings;
    StreamSplitter m_splitter;

    State m_state = State::Idle;
    FaultChoice m_fault; // for the command in hand
    quint32 m_framesReceived = 0; // sound command frames on this link, over hang-ups too
    quint32 m_frameNumber = 0;    // the command in hand's
    quint8 m_code = 0;
    QByteArray m_parameter;
    QByteArray m_response; // the sound response frame
    int m_sends = 0;
    QTimer m_operationTimer;
    QTimer m_ackTimer;
};
