#include "BlockingWireClient.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kStx = Wire::STX;
constexpr char kEtx = Wire::ETX;
constexpr char kAck = Wire::ACK;
constexpr char kNak = Wire::NAK;
constexpr std::size_t kMaxBody = Wire::kMaxBody;

} // namespace

BlockingWireClient::BlockingWireClient(int fd) : m_fd(fd) {}

BlockingWireClient::~BlockingWireClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int BlockingWireClient::connectTcp(const std::string &host, std::uint16_t port, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = std::string("address ") + host + ": " + ::gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo *ai = found; ai; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
            break;
        error = std::string("connect: ") + std::strerror(errno);
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

std::string BlockingWireClient::frame(std::string_view body)
{
    if (body.size() > kMaxBody)
        body = body.substr(0, kMaxBody);
    std::string out;
    out.reserve(body.size() + 5);
    out.push_back(kStx);
    out.push_back(char((body.size() >> 8) & 0xFF));
    out.push_back(char(body.size() & 0xFF));
    out.append(body);
    out.push_back(kEtx);
    unsigned char bcc = 0;
    for (std::size_t i = 1; i < out.size(); ++i)
        bcc ^= static_cast<unsigned char>(out[i]);
    out.push_back(char(bcc));
    return out;
}

BlockingWireClient::Result BlockingWireClient::command(std::uint8_t code, std::string_view parameter)
{
    std::string body;
    body.reserve(1 + parameter.size());
    body.push_back(char(code));
    body.append(parameter);
    const std::string out = frame(body);

    Result result;
    for (int sends = 1;; ++sends) {
        if (!writeAll(out))
            return result;
        const Answer answer = readAnswer();
        if (answer == Answer::Lost)
            return result;
        if (answer == Answer::Ack)
            break;
        if (sends == kMaxSends) {
            result.outcome = Outcome::Refused;
            return result;
        }
    }

    for (int bad = 0;;) {
        std::string response;
        const FrameRead read = readFrame(response);
        if (read == FrameRead::Lost)
            return result;
        if (read == FrameRead::Sound) {
            if (!writeAll(std::string_view(&kAck, 1)))
                return result;
            result.outcome = Outcome::Ok;
            result.status = static_cast<std::uint8_t>(response[0]);
            result.data = response.substr(1);
            return result;
        }
        if (!writeAll(std::string_view(&kNak, 1)))
            return result;
        if (++bad == kMaxBadResponses) {
            result.outcome = Outcome::BadResponse;
            return result;
        }
    }
}

BlockingWireClient::Answer BlockingWireClient::readAnswer()
{
    // Anything before the ACK or NAK (the rest of an earlier, abandoned answer) is skipped.
    for (;;) {
        const int byte = nextByte();
        if (byte < 0)
            return Answer::Lost;
        if (byte == kAck)
            return Answer::Ack;
        if (byte == kNak)
            return Answer::Nak;
    }
}

BlockingWireClient::FrameRead BlockingWireClient::readFrame(std::string &body)
{
    int byte;
    do {
        byte = nextByte();
        if (byte < 0)
            return FrameRead::Lost;
    } while (byte != kStx);

    unsigned char head[2];
    if (!readExact(reinterpret_cast<char *>(head), 2))
        return FrameRead::Lost;
    const std::size_t length = (std::size_t(head[0]) << 8) | head[1];
    std::string rest(length + 2, '\0'); // BODY ETX BCC
    if (!readExact(rest.data(), rest.size()))
        return FrameRead::Lost;

    unsigned char bcc = head[0] ^ head[1];
    for (std::size_t i = 0; i + 1 < rest.size(); ++i)
        bcc ^= static_cast<unsigned char>(rest[i]);
    if (length == 0 || rest[length] != kEtx || bcc != static_cast<unsigned char>(rest[length + 1]))
        return FrameRead::Damaged;
    body.assign(rest, 0, length);
    return FrameRead::Sound;
}

int BlockingWireClient::nextByte()
{
    char byte;
    if (!readExact(&byte, 1))
        return -1;
    return static_cast<unsigned char>(byte);
}

bool BlockingWireClient::readExact(char *out, std::size_t count)
{
    while (count > 0) {
        if (m_pos == m_end) {
            const ssize_t got = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            m_pos = 0;
            m_end = std::size_t(got);
            m_received += std::size_t(got);
        }
        const std::size_t take = std::min(count, m_end - m_pos);
        std::memcpy(out, m_buffer + m_pos, take);
        m_pos += take;
        out += take;
        count -= take;
    }
    return true;
}

bool BlockingWireClient::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        m_sent += std::size_t(put);
        bytes.remove_prefix(std::size_t(put));
    }
    return true;
}
