#pragma once

#include "EmulatorLauncher.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Runs kestra-emu (the path comes from the KESTRA_EMU environment variable that CTest sets)
// through the EmulatorLauncher on loopback TCP with an ephemeral port and, when asked, on a
// pseudo-terminal, and stops it when destroyed. Every frame and byte it sees goes into a trace
// file (trace(), traceEntries()).
//
// The emulator runs at the real device's pace by default; most tests want
// extraArgs {"--time-scale", "0", "--reinsert-ms", "0"}: answers at once, and an ejected card
// is back at once.
class EmulatorProcess
{
public:
    struct Options
    {
        bool pty = false;
        QStringList extraArgs; // fault modes and the like
        bool surfacePng = false; // draw the card's surface into surfacePath() after each rewrite/erase
    };

    // One line of the trace: "<seconds> <link> <in|out|--> <kind> <hex> |<text>|".
    struct TraceEntry
    {
        QString link;      // "tcp#1", "pty", "device"
        QString direction; // "in", "out", or "--" for an event
        QString kind;      // "frame", "ACK", "NAK", "bad-frame", "garbage", "partial", ... or "event"
        QByteArray bytes;  // the exact bytes (empty for an event)
        QString text;      // an event's text
    };

    EmulatorProcess();
    explicit EmulatorProcess(Options options);
    ~EmulatorProcess();

    // Starts the emulator and waits (at most 10 s) until it says where it listens. False with a
    // reason in errorText() when it did not come up.
    bool start();
    // Ends the emulator with SIGTERM (it removes its pseudo-terminal link) and waits for it.
    void stop();
    bool isRunning() const;
    qint64 processId() const;
    QProcess *process() const { return m_launcher.process(); }

    quint16 tcpPort() const { return m_launcher.tcpPort(); }
    QString ptyPath() const { return m_launcher.ptyPath(); }
    QString tracePath() const { return m_tracePath; }
    QString surfacePath() const { return m_surfacePath; }
    QString directory() const { return m_dir.path(); }
    QByteArray trace() const; // the trace file as written so far
    QList<TraceEntry> traceEntries() const;
    // Bodies of the sound frames the emulator received (commands), oldest first; link empty: all.
    QList<QByteArray> receivedCommands(const QString &link = {}) const;
    // Waits (event-driven, at most timeoutMs) until a trace line contains fragment.
    bool waitForTrace(const QByteArray &fragment, int timeoutMs = 5000) const;
    QByteArray standardError() const; // what the emulator wrote on stderr
    QString errorText() const { return m_error; }

    static TraceEntry parseTraceLine(const QByteArray &line);

private:
    Options m_options;
    QTemporaryDir m_dir; // outlives the launcher: the emulator removes its link in there when stopped
    EmulatorLauncher m_launcher;
    QString m_tracePath;
    QString m_surfacePath;
    QString m_error;
};

// A journal's text with the session word of each line taken out ("tcp s4242.1 -- open" reads
// "tcp -- open"), for tests that look for a line's words.
QByteArray withoutSessions(const QByteArray &journal);
