#include "Trace.h"

#include "control/LinkJournal.h"

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
    line += LinkJournal::hexAndText(bytes);
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

void StreamSplitter::reset()
{
    m_reader.reset();
    m_raw.clear();
    m_garbage.clear();
}

void StreamSplitter::flushGarbage(QList<Piece> &pieces)
{
    if (!m_garbage.isEmpty()) {
        pieces.append({Kind::Garbage, m_garbage, {}});
        m_garbage.clear();
    }
}

QList<StreamSplitter::Piece> StreamSplitter::feed(QByteArrayView bytes)
{
    QList<Piece> pieces;
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype take = 1;
        if (m_reader.inFrame() && m_raw.size() >= 3) {
            // The header is in: hand over the rest of the frame in one piece.
            const qsizetype length = (qsizetype(quint8(m_raw[1])) << 8) | quint8(m_raw[2]);
            take = qMin(length + Wire::kOverhead - m_raw.size(), bytes.size() - i);
        }
        const QByteArrayView chunk = bytes.sliced(i, take);
        const bool wasInFrame = m_reader.inFrame();
        const QList<FrameReader::Item> items = m_reader.feed(chunk);
        i += take;

        if (!wasInFrame && items.isEmpty() && !m_reader.inFrame()) {
            m_garbage.append(chunk.data(), chunk.size());
            continue;
        }
        if (!wasInFrame && m_reader.inFrame()) { // STX
            flushGarbage(pieces);
            m_raw = QByteArray(chunk.data(), chunk.size());
            continue;
        }
        if (wasInFrame)
            m_raw.append(chunk.data(), chunk.size());
        for (const FrameReader::Item &item : items) {
            switch (item.kind) {
            case FrameReader::Kind::Ack:
                flushGarbage(pieces);
                pieces.append({Kind::Ack, QByteArray(1, Wire::ACK), {}});
                break;
            case FrameReader::Kind::Nak:
                flushGarbage(pieces);
                pieces.append({Kind::Nak, QByteArray(1, Wire::NAK), {}});
                break;
            case FrameReader::Kind::Frame:
                pieces.append({Kind::Frame, m_raw, item.body});
                m_raw.clear();
                break;
            case FrameReader::Kind::BadFrame:
                pieces.append({Kind::BadFrame, m_raw, {}});
                m_raw.clear();
                break;
            case FrameReader::Kind::Stray: // not asked for: the garbage above keeps them
                break;
            }
        }
    }
    flushGarbage(pieces);
    return pieces;
}
