#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT (Ctrl-C) into a Qt signal. The signal handler only writes a byte into a pipe
// (async-signal-safe); the event loop sees the pipe become readable and emits interrupted(), so
// that the reaction runs as an ordinary event, where it may call the control. One instance at a
// time; the handler is installed by the constructor and the default restored by the destructor.
class InterruptWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    bool isInterrupted() const { return m_interrupted; }

signals:
    void interrupted();

private:
    void drain();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    bool m_interrupted = false;
};
