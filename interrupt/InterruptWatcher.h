#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT (Ctrl-C), SIGTERM (what systemd and timeout send) and SIGHUP (a closed terminal or
// SSH session) into a Qt signal, so that a program ends on any of them as on Ctrl-C, tidily:
// kestra-send aborts the running command, closes the link and writes the journal's last lines;
// kestra-emu removes its pseudo-terminal's link. The signal handler only writes the signal's
// number into a pipe (async-signal-safe); the event loop sees the pipe become readable and emits
// interrupted() once, for the first signal, so that the reaction runs as an ordinary event, where
// it may call anything. One instance at a time, made after the application object; the handlers
// are installed by the constructor and the defaults restored by the destructor, so that a signal
// after it ends the program at once.
class InterruptWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    bool isInterrupted() const { return m_signal != 0; }
    // The first signal that came (SIGINT, SIGTERM, SIGHUP); 0 before any.
    int signalNumber() const { return m_signal; }
    // What the program exits with after that signal, as a shell reports a program it ended:
    // 128 + the signal's number (130, 143, 129).
    int exitStatus() const { return 128 + m_signal; }

signals:
    void interrupted();

private:
    void drain();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    int m_signal = 0;
};
