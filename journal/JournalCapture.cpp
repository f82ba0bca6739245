#include "JournalCapture.h"

#include "PcapngWriter.h"

#include <map>
#include <optional>

namespace {

// A session is an interface; a journal of more sessions than this is no capture anyone reads.
constexpr size_t kMaxSessions = 65536;

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
    case Kind::Server:
    case Kind::Modem:
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
    int session = 0;
};

class CaptureBuilder
{
public:
    CaptureBuilder(PcapngWriter &writer, QString path) : m_writer(writer), m_path(std::move(path)) {}

    // False when the journal holds more sessions than a capture here takes.
    bool add(const JournalLine &line, const QByteArray &bytes)
    {
        const int session = line.sessionNumber;
        auto found = m_sessions.find(session);
        if (found == m_sessions.end()) {
            if (m_sessions.size() >= kMaxSessions)
                return false;
            const QByteArray link = line.link.toByteArray();
            QByteArray description = "Kestra link " + link + ", session " + QByteArray::number(session);
            if (!line.isBytes() && (line.kind == Journal::Kind::Open || line.kind == Journal::Kind::OpenFailed))
                description += " (" + line.rest.first(qMin<qsizetype>(line.rest.size(), 200)).toByteArray() + ')';
            description += " from the journal " + m_path.toUtf8();
            const quint32 id = m_writer.addInterface(link + " session " + QByteArray::number(session), description);
            found = m_sessions.emplace(session, LinkState{id, {}, 0}).first;
        }
        LinkState &state = found->second;
        const qint64 microseconds = line.msecs * 1000;
        if (!line.isBytes()) {
            const QByteArray comment = line.word.toByteArray() + ' ' + line.rest.toByteArray();
            if (!commentsNextPacket(line.kind) && m_held && m_held->session == session)
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
                        bytes, state.waiting, session};
        state.waiting.clear();
        return true;
    }

    void finish()
    {
        flushHeld();
        for (auto &[session, state] : m_sessions) {
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
    std::map<int, LinkState> m_sessions;
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
            *error = reader.where() + QStringLiteral("more than %1 sessions in one journal").arg(kMaxSessions);
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
