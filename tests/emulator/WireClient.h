#pragma once

#include "protocol/Frame.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTcpSocket>

#include <memory>
#include <optional>

// A byte channel to the emulator: blocking reads with a time limit, never a sleep loop.
class ByteChannel
{
public:
    virtual ~ByteChannel() = default;
    virtual bool write(const QByteArray &bytes) = 0;
    // Whatever arrives within timeoutMs (empty when nothing did or the line is gone).
    virtual QByteArray readSome(int timeoutMs) = 0;
    virtual bool hungUp() const = 0;
};

class TcpChannel : public ByteChannel
{
public:
    bool connectTo(quint16 port);
    bool write(const QByteArray &bytes) override;
    QByteArray readSome(int timeoutMs) override;
    bool hungUp() const override;
    // Leaves what arrives in the kernel, as a client would that never reads.
    void stopReading() { m_socket.setReadBufferSize(1); }

private:
    QTcpSocket m_socket;
};

// The client end of the emulator's pseudo-terminal, opened through its link like a serial port.
class PtyChannel : public ByteChannel
{
public:
    ~PtyChannel() override;
    bool open(const QString &path);
    void close();
    bool write(const QByteArray &bytes) override;
    QByteArray readSome(int timeoutMs) override;
    bool hungUp() const override { return m_hungUp; }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

// Speaks the wire protocol over a channel, keeping what arrives in order.
class WireClient
{
public:
    explicit WireClient(ByteChannel *channel) : m_channel(channel) {}

    bool send(const QByteArray &bytes) { return m_channel->write(bytes); }
    bool sendCommand(const QByteArray &body) { return send(encodeFrame(body)); }

    // The next item (frame, bad frame, ACK, NAK) within timeoutMs.
    std::optional<FrameReader::Item> next(int timeoutMs = 5000);
    // True when no item and no byte arrives within ms.
    bool quietFor(int ms);

    // Command, ACK, response, ACK: the response body, or nothing when any step went wrong.
    std::optional<QByteArray> exchange(const QByteArray &body, int timeoutMs = 5000);

    QByteArray rawSeen() const { return m_raw; } // every byte received, in order

private:
    bool fill(int timeoutMs);

    ByteChannel *m_channel;
    FrameReader m_reader;
    QList<FrameReader::Item> m_items;
    QByteArray m_raw;
};

QByteArray statusBody(quint8 status, const QByteArray &data = {});
