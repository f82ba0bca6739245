#include "PcapngWriter.h"

#include <QtEndian>

namespace {

constexpr quint32 kSectionHeader = 0x0A0D0D0A;
constexpr quint32 kInterface = 1;
constexpr quint32 kEnhancedPacket = 6;
constexpr quint16 kLinkTypeUpperPdu = 252; // LINKTYPE_WIRESHARK_UPPER_PDU
constexpr quint16 kTagEnd = 0;
constexpr quint16 kTagProtoName = 12; // EXP_PDU_TAG_PROTO_NAME: a dissector by its name

void put16(QByteArray &to, quint16 value)
{
    to.append(reinterpret_cast<const char *>(&value), 2);
}

void put32(QByteArray &to, quint32 value)
{
    to.append(reinterpret_cast<const char *>(&value), 4);
}

void pad4(QByteArray &to)
{
    while (to.size() % 4)
        to.append('\0');
}

// One option: code, length, value padded to 32 bits (the host's byte order, as the section's).
void option(QByteArray &to, quint16 code, const QByteArray &value)
{
    put16(to, code);
    put16(to, quint16(value.size()));
    to += value;
    pad4(to);
}

void endOfOptions(QByteArray &to)
{
    put32(to, 0);
}

} // namespace

QByteArray PcapngWriter::upperPduHeader()
{
    // The exported-PDU tags are big-endian whatever the section's byte order.
    QByteArray header;
    const QByteArray name = "kestra";
    char word[2];
    qToBigEndian(kTagProtoName, word);
    header.append(word, 2);
    qToBigEndian(quint16(name.size()), word);
    header.append(word, 2);
    header += name;
    qToBigEndian(kTagEnd, word);
    header.append(word, 2);
    header.append(word, 2);
    return header;
}

void PcapngWriter::block(quint32 type, const QByteArray &body)
{
    QByteArray whole;
    const quint32 total = quint32(12 + body.size());
    put32(whole, type);
    put32(whole, total);
    whole += body;
    put32(whole, total);
    if (std::fwrite(whole.constData(), 1, size_t(whole.size()), m_out) != size_t(whole.size()))
        m_failed = true;
}

void PcapngWriter::sectionHeader(const QByteArray &application)
{
    QByteArray body;
    put32(body, 0x1A2B3C4D); // byte-order magic
    put16(body, 1);
    put16(body, 0);
    const qint64 unknownLength = -1;
    body.append(reinterpret_cast<const char *>(&unknownLength), 8);
    option(body, 4, application); // shb_userappl
    endOfOptions(body);
    block(kSectionHeader, body);
}

quint32 PcapngWriter::addInterface(const QByteArray &name, const QByteArray &description)
{
    QByteArray body;
    put16(body, kLinkTypeUpperPdu);
    put16(body, 0);
    put32(body, 0); // no snapshot length
    option(body, 2, name);        // if_name
    option(body, 3, description); // if_description
    endOfOptions(body);
    block(kInterface, body);
    return m_interfaces++;
}

void PcapngWriter::packet(quint32 interface, qint64 microseconds, Direction direction, const QByteArray &payload,
                          const QByteArrayList &comments)
{
    const QByteArray data = upperPduHeader() + payload;
    QByteArray body;
    put32(body, interface);
    put32(body, quint32(quint64(microseconds) >> 32));
    put32(body, quint32(quint64(microseconds) & 0xFFFFFFFF));
    put32(body, quint32(data.size()));
    put32(body, quint32(data.size()));
    body += data;
    pad4(body);
    for (const QByteArray &comment : comments)
        option(body, 1, comment.left(65000)); // opt_comment
    if (direction != Direction::Unknown) {
        QByteArray flags;
        put32(flags, direction == Direction::Inbound ? 1 : 2); // epb_flags: the direction's two bits
        option(body, 2, flags);
    }
    endOfOptions(body);
    block(kEnhancedPacket, body);
}
