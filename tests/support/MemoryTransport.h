#pragma once

#include "transport/LinkTransport.h"

#include <QBuffer>

// A link held in memory: what the control sends collects in a buffer the test takes, and the
// test hands the control bytes as if they came off the line.
class MemoryTransport : public LinkTransport
{
public:
    MemoryTransport()
    {
        m_written.open(QIODevice::WriteOnly);
        setDevice(&m_written);
    }

    // Bytes "from the device", delivered at once, as readyRead would.
    void feed(const QByteArray &bytes) { emit bytesArrived(bytes); }
    // What was sent since the last call.
    QByteArray takeSent()
    {
        const QByteArray sent = m_written.data();
        m_written.buffer().clear();
        m_written.seek(0);
        return sent;
    }
    void shutDown() override { m_written.close(); markClosed(); }

private:
    bool isReady() const override { return m_written.isOpen(); }
    void pushOut() override {}

    QBuffer m_written;
};
