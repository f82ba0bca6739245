#pragma once

#include "protocol/Frame.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>

#include <cstdio>
#include <memory>

// One line per frame, ACK, NAK, run of stray bytes or event, so that a test can compare the
// traffic byte for byte:
//   <seconds since start, 3 decimals> <link> <in|out|--> <kind> <hex bytes> |<printable>|
// e.g. "0.153 tcp#1 in frame 02 00 01 22 03 20 |.."...|". Event lines carry "--" and "event"
// followed by free text. Every line is flushed as it is written.
class TraceLog
{
public:
    enum class Direction { In, Out };

    TraceLog();
    ~TraceLog();

    void setToStderr(bool on) { m_toStderr = on; }
    // False with a reason when the file cannot be opened.
    bool openFile(const QString &path, QString *error);
    bool enabled() const { return m_toStderr || m_file; }

    void bytes(const QString &link, Direction direction, const char *kind, QByteArrayView bytes);
    void event(const QString &link, const QString &text);

    // The line as written, without its newline (also used by tests).
    static QByteArray formatBytes(qint64 elapsedMs, const QString &link, Direction direction,
                                  const char *kind, QByteArrayView bytes);

private:
    void write(const QByteArray &line);

    QElapsedTimer m_clock;
    bool m_toStderr = false;
    std::unique_ptr<QFile> m_file;
};

// Cuts an incoming byte stream into what the trace and the session need: whole frames (with their
// raw bytes), bad frames, ACK, NAK and runs of stray bytes. The cutting is the wire codec's
// FrameReader; this only names its items as the trace does.
class StreamSplitter
{
public:
    enum class Kind { Frame, BadFrame, Ack, Nak, Garbage };
    struct Piece
    {
        Kind kind;
        QByteArray raw;  // the bytes as they came
        QByteArray body; // Frame only
    };

    StreamSplitter();
    QList<Piece> feed(QByteArrayView bytes);
    // True while a frame has started but not ended (what a closing peer leaves behind).
    bool inFrame() const { return m_reader.inFrame(); }
    void reset();

private:
    FrameReader m_reader;
};

const char *kindName(StreamSplitter::Kind kind);
