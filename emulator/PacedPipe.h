#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Lets bytes through no faster than a serial line would carry them: 10 bits per byte (start bit,
// eight data bits, stop bit). A byte is handed on when its last bit would have arrived. A timer
// wakes up when the next bytes are due and hands on everything that is due by then; nothing
// sleeps. With 0 bit/s the bytes go straight through.
class PacedPipe : public QObject
{
    Q_OBJECT
public:
    using Sink = std::function<void(const QByteArray &)>;

    PacedPipe(Sink sink, QObject *parent = nullptr);

    void setBitsPerSecond(int bps) { m_bps = bps; }
    void push(const QByteArray &bytes);
    qsizetype queued() const { return m_queue.size(); }
    void clear();

signals:
    void drained();

private:
    void pump();
    qint64 dueBytes() const; // bytes whose wire time has passed since the line started

    Sink m_sink;
    int m_bps = 0;
    QByteArray m_queue;
    QElapsedTimer m_lineClock; // started when the line went busy
    qint64 m_released = 0;      // bytes handed on since then
    QTimer m_timer;
};
