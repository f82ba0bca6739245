#include "Trace.h"

#include "JournalFormat.h"

#include <QDir>
#include <QFileInfo>

TraceLog::TraceLog()
{
    m_clock.start();
}

TraceLog::~TraceLog() = default;

bool TraceLog::openFile(const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot write the trace file %1: %2").arg(path, file->errorString());
        return false;
    }
    m_file = std::move(file);
    return true;
}

QByteArray TraceLog::formatBytes(qint64 elapsedMs, const QString &link, Direction direction,
                                 const char *kind, QByteArrayView bytes)
{
    QByteArray line;
    line.reserve(32 + bytes.size() * 4);
    line += QByteArray::number(elapsedMs / 1000) + '.'
            + QByteArray::number(elapsedMs % 1000).rightJustified(3, '0');
    line += ' ';
    line += link.toUtf8();
    line += direction == Direction::In ? " in " : " out ";
    line += kind;
    line += ' ';
    // The control's journal writes bytes the same way, so that the two read side by side.
    line += Journal::hexAndText(bytes);
    return line;
}

void TraceLog::bytes(const QString &link, Direction direction, const char *kind, QByteArrayView data)
{
    if (!enabled())
        return;
    write(formatBytes(m_clock.elapsed(), link, direction, kind, data));
}

void TraceLog::event(const QString &link, const QString &text)
{
    if (!enabled())
        return;
    const qint64 ms = m_clock.elapsed();
    QByteArray line = QByteArray::number(ms / 1000) + '.' + QByteArray::number(ms % 1000).rightJustified(3, '0');
    line += ' ' + link.toUtf8() + " -- event " + text.toUtf8();
    write(line);
}

void TraceLog::write(const QByteArray &line)
{
    if (m_toStderr) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    if (m_file) {
        m_file->write(line);
        m_file->write("\n", 1);
        m_file->flush();
    }
}

const char *kindName(StreamSplitter::Kind kind)
{
    switch (kind) {
    case StreamSplitter::Kind::Frame: return "frame";
    case StreamSplitter::Kind::BadFrame: return "bad-frame";
    case StreamSplitter::Kind::Ack: return "ACK";
    case StreamSplitter::Kind::Nak: return "NAK";
    case StreamSplitter::Kind::Garbage: return "garbage";
    }
    return "?";
}

StreamSplitter::StreamSplitter()
{
    m_reader.setReportStray(true);
}

void StreamSplitter::reset()
{
    m_reader.reset();
}

QList<StreamSplitter::Piece> StreamSplitter::feed(QByteArrayView bytes)
{
    QList<Piece> pieces;
    for (FrameReader::Item &item : m_reader.feed(bytes)) {
        switch (item.kind) {
        case FrameReader::Kind::Ack:
            pieces.append({Kind::Ack, QByteArray(1, Wire::ACK), {}});
            break;
        case FrameReader::Kind::Nak:
            pieces.append({Kind::Nak, QByteArray(1, Wire::NAK), {}});
            break;
        case FrameReader::Kind::Frame:
            // A sound frame is exactly the encoding of its body.
            pieces.append({Kind::Frame, encodeFrame(item.body), item.body});
            break;
        case FrameReader::Kind::BadFrame:
            pieces.append({Kind::BadFrame, std::move(item.body), {}});
            break;
        case FrameReader::Kind::Stray:
            pieces.append({Kind::Garbage, std::move(item.body), {}});
            break;
        }
    }
    return pieces;
}
