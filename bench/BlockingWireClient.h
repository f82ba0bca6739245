#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The plainest client of the device protocol that one could write: POSIX sockets, blocking
// reads and writes, no event loop, no framework. It sends a command frame, reads the ACK (and
// repeats the frame after a NAK, three sends in all), reads the response frame, checks it and
// answers ACK, or NAK for a damaged one (three damaged frames give up). It is the baseline that
// the console's own path is measured against.
class BlockingWireClient
{
public:
    enum class Outcome {
        Ok,          // a sound response frame arrived and was acknowledged
        Refused,     // three NAKs for the command frame
        BadResponse, // three damaged response frames
        LinkLost,    // the peer closed, or a read or write failed
    };
    struct Result
    {
        Outcome outcome = Outcome::LinkLost;
        std::uint8_t status = 0; // the response's status byte (Ok only)
        std::string data;        // the response's data bytes (Ok only)
    };

    static constexpr int kMaxSends = 3;
    static constexpr int kMaxBadResponses = 3;

    // Takes over a connected stream socket (closed by the destructor).
    explicit BlockingWireClient(int fd);
    ~BlockingWireClient();
    BlockingWireClient(const BlockingWireClient &) = delete;
    BlockingWireClient &operator=(const BlockingWireClient &) = delete;

    // A connected TCP socket with TCP_NODELAY set (a one-byte ACK must not wait for the peer's
    // acknowledgement), or -1 with the reason in error.
    static int connectTcp(const std::string &host, std::uint16_t port, std::string &error);

    // STX LEN_HI LEN_LO BODY ETX BCC around body (1 to 65535 bytes).
    static std::string frame(std::string_view body);

    Result command(std::uint8_t code, std::string_view parameter);

    // Bytes sent and received so far, for the wire-time arithmetic of the callers.
    std::size_t bytesSent() const { return m_sent; }
    std::size_t bytesReceived() const { return m_received; }

private:
    enum class Answer { Ack, Nak, Lost };
    enum class FrameRead { Sound, Damaged, Lost };

    Answer readAnswer();
    FrameRead readFrame(std::string &body);
    int nextByte(); // 0-255, or -1 when the link is gone
    bool readExact(char *out, std::size_t count);
    bool writeAll(std::string_view bytes);

    int m_fd = -1;
    char m_buffer[4096];
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    std::size_t m_sent = 0;
    std::size_t m_received = 0;
};
