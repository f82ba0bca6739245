#pragma once

#include "DeviceModel.h"
#include "EmulatorOptions.h"
#include "Faults.h"
#include "ReplayBook.h"
#include "ReplaySession.h"
#include "Session.h"
#include "Trace.h"

#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <memory>

class PtyLink;

// The emulated device and the links it listens on.
class Emulator : public QObject
{
    Q_OBJECT
public:
    explicit Emulator(EmulatorOptions options, QObject *parent = nullptr);
    ~Emulator() override;

    // Opens the trace, the TCP listener and the pseudo-terminal. False with a reason, and the
    // exit status for it (startFailureStatus()).
    bool start(QString *error);
    // 2 when --replay's choice of sessions was refused (as a wrong option is), otherwise 1.
    int startFailureStatus() const { return m_startFailureStatus; }
    // Closes everything and removes the pseudo-terminal's link.
    void shutdown();

    quint16 tcpPort() const;
    QHostAddress tcpAddress() const;
    QString ptyPath() const;
    DeviceModel &model() { return m_model; }
    // After the event loop: with --replay, the replay's summary on stderr and its exit status.
    // A replay ends the event loop by itself at the end of the recording.
    int finish(int status);

private:
    void acceptConnections();
    bool checkReplay(QString *error);
    void watchReplay(ReplaySession *session, Link *link);
    void writeSurface();
    Session::Settings sessionSettings() const;

    EmulatorOptions m_options;
    TraceLog m_trace;
    DeviceModel m_model;
    FaultPolicy m_faults;
    QTcpServer m_server;
    int m_connections = 0;
    std::unique_ptr<PtyLink> m_pty;
    std::unique_ptr<Session> m_ptySession;
    std::unique_ptr<ReplayBook> m_replay;
    std::unique_ptr<ReplaySession> m_ptyReplay;
    bool m_replayPlayed = false; // the last recorded step has been played
    QTimer m_replayEnd;          // then the client's time to close, or to be quiet
    int m_startFailureStatus = 1;
};
