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

#include <memory>

class PtyLink;

// The emulated device and the links it listens on.
class Emulator : public QObject
{
    Q_OBJECT
public:
    explicit Emulator(EmulatorOptions options, QObject *parent = nullptr);
    ~Emulator() override;

    // Opens the trace, the TCP listener and the pseudo-terminal. False with a reason.
    bool start(QString *error);
    // Closes everything and removes the pseudo-terminal's link.
    void shutdown();

    quint16 tcpPort() const;
    QHostAddress tcpAddress() const;
    QString ptyPath() const;
    DeviceModel &model() { return m_model; }
    // After the event loop: with --replay, the replay's summary on stderr and its exit status.
    int finish(int status);

private:
    void acceptConnections();
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
};

// Makes SIGINT and SIGTERM end the event loop (through a self-pipe, so the handler itself does
// nothing but write one byte).
void quitOnTerminationSignals();
