#include "protocol/Frame.h"

#include <utility>

char frameChecksum(QByteArrayView body)
{
    const int length = int(body.size());
    char bcc = char((length >> 8) & 0xFF) ^ char(length & 0xFF);
    for (char byte : body)
        bcc ^= byte;
    return char(bcc ^ Wire::ETX);
}

QByteArray encodeFrame(QByteArrayView body)
{
    const QByteArrayView cut = body.first(qMin<qsizetype>(body.size(), Wire::kMaxBody));
    const int length = int(cut.size());
    QByteArray frame;
    frame.reserve(length + Wire::kOverhead);
    frame.append(Wire::STX);
    frame.append(char((length >> 8) & 0xFF));
    frame.append(char(length & 0xFF));
    frame.append(cut.data(), cut.size());
    frame.append(Wire::ETX);
    frame.append(frameChecksum(cut));
    return frame;
}

void FrameReader::reset()
{
    m_state = State::Hunting;
    m_length = 0;
    m_rest.clear();
}

QList<FrameReader::Item> FrameReader::feed(QByteArrayView bytes)
{
    QList<Item> items;
    QByteArray stray;
    const auto flushStray = [&] {
        if (!stray.isEmpty())
            items.append({Kind::Stray, std::exchange(stray, {})});
    };
    qsizetype i = 0;
    while (i < bytes.size()) {
        const char byte = bytes[i];
        switch (m_state) {
        case State::Hunting:
            ++i;
            if (byte == Wire::STX || byte == Wire::ACK || byte == Wire::NAK)
                flushStray();
            if (byte == Wire::STX)
                m_state = State::LenHi;
            else if (byte == Wire::ACK)
                items.append({Kind::Ack, {}});
            else if (byte == Wire::NAK)
                items.append({Kind::Nak, {}});
            else if (m_reportStray)
                stray.append(byte);
            break;
        case State::LenHi:
            ++i;
            m_length = (quint8(byte) << 8);
            m_state = State::LenLo;
            break;
        case State::LenLo:
            ++i;
            m_length |= quint8(byte);
            if (m_length == 0) {
                // Nothing can follow a frame without a body; drop it and look for the next one.
                items.append({Kind::BadFrame, QByteArray::fromHex("020000")});
                reset();
            } else {
                m_rest.clear();
                m_rest.reserve(m_length + 2);
                m_state = State::Rest;
            }
            break;
        case State::Rest: {
            const qsizetype wanted = m_length + 2 - m_rest.size();
            const qsizetype take = qMin(wanted, bytes.size() - i);
            m_rest.append(bytes.data() + i, take);
            i += take;
            if (m_rest.size() == m_length + 2) {
                const QByteArrayView body(m_rest.constData(), m_length);
                const bool sound = m_rest.at(m_length) == Wire::ETX
                                   && m_rest.at(m_length + 1) == frameChecksum(body);
                if (sound)
                    items.append({Kind::Frame, m_rest.left(m_length)});
                else
                    items.append({Kind::BadFrame, rawFrame()});
                reset();
            }
            break;
        }
        }
    }
    flushStray();
    return items;
}

QByteArray FrameReader::rawFrame() const
{
    QByteArray raw;
    raw.reserve(3 + m_rest.size());
    raw.append(Wire::STX);
    raw.append(char((m_length >> 8) & 0xFF));
    raw.append(char(m_length & 0xFF));
    raw.append(m_rest);
    return raw;
}
