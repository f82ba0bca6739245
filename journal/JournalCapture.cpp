#include "JournalCapture.h"

#include "PcapngWriter.h"

#include <map>
#include <optional>

namespace {

constexpr size_t kMaxLinks = 256;

// An event that leads to what follows it comments the next packet; one that tells how something
// ended comments the packet before.
bool commentsNextPacket(Journal::Kind event)
{
    using Journal::Kind;
    switch (event) {
    case Kind::Open:
    case Kind::OpenFailed:
    case Kind::Command:
    case Kind::Resend:
    case Kind::Settle:
        return true;
    case Kind::Close:
    case Kind::Lost:
    case Kind::Refused:
    case Kind::End:
    case Kind::Skipped:
    case Kind::Stopped:
    case Kind::CommandFrame:
    case Kind::Ack:
    case Kind::Nak:
    case Kind::Response:
    case Kind::LateFrame:
    case Kind::BadFrame:
    case Kind::Stray:
    case Kind::Dropped:
        return false;
    }
    return false;
}

struct Packet
{
    quint32 interface = 0;
    qint64 microseconds = 0;
    PcapngWriter::Direction direction = PcapngWriter::Direction::Unknown;
    QByteArray payload;
    QByteArrayList comments;
    QByteArray link;
};

class CaptureBuilder
{
public:
    CaptureBuilder(PcapngWriter &writer, QString path) : m_writer(writer), m_path(std::move(path)) {}

    // False when the journal names more links than a capture here takes.
    bool add(const JournalLine &line, const QByteArray &bytes)
    {
        const QByteArray link = line.link.toByteArray();
        auto found = m_links.find(link);
        if (found == m_links.end()) {
            if (m_links.size() >= kMaxLinks)
                return false;
            const quint32 id = m_writer.addInterface(link, "Kestra link " + link + " from the journal " + m_path.toUtf8());
            found = m_links.emplace(link, LinkState{id, {}, 0}).first;
        }
        LinkState &state = found->second;
        const qint64 microseconds = line.msecs * 1000;
        if (!line.isBytes()) {
            const QByteArray comment = line.word.toByteArray() + ' ' + line.rest.toByteArray();
            if (!commentsNextPacket(line.kind) && m_held && m_held->link == link)
                m_held->comments << comment;
            else
                state.waiting << comment;
            state.lastMicroseconds = microseconds;
            return true;
        }
        flushHeld();
        m_held = Packet{state.interface, microseconds,
                        line.direction == JournalLine::Direction::In ? PcapngWriter::Direction::Inbound
                                                                     : PcapngWriter::Direction::Outbound,
                        bytes, state.waiting, link};
        state.waiting.clear();
        return true;
    }

    void finish()
    {
        flushHeld();
        for (auto &[link, state] : m_links) {
            if (!state.waiting.isEmpty())
                m_writer.packet(state.interface, state.lastMicroseconds, PcapngWriter::Direction::Unknown, {},
                                state.waiting);
        }
    }

private:
    struct LinkState
    {
        quint32 interface;
        QByteArrayList waiting; // comments for the link's next packet
        qint64 lastMicroseconds;
    };

    void flushHeld()
    {
        if (!m_held)
            return;
        m_writer.packet(m_held->interface, m_held->microseconds, m_held->direction, m_held->payload, m_held->comments);
        m_held.reset();
    }

    PcapngWriter &m_writer;
    QString m_path;
    std::map<QByteArray, LinkState> m_links;
    std::optional<Packet> m_held; // the last packet, open for the comments of the events after it
};

} // namespace

bool writeCapture(JournalReader &reader, std::FILE *out, QString *error)
{
    PcapngWriter writer(out);
    writer.sectionHeader("kestra-journal");
    CaptureBuilder builder(writer, reader.path());
    JournalLine line;
    while (reader.next(&line)) {
        if (!builder.add(line, reader.bytes())) {
            *error = reader.where() + QStringLiteral("more than %1 links in one journal").arg(kMaxLinks);
            return false;
        }
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    builder.finish();
    if (writer.failed()) {
        *error = QStringLiteral("writing the capture failed");
        return false;
    }
    return true;
}
