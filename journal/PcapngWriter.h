#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <cstdio>

// Writes a pcapng capture block by block: a section header, an interface per link and an
// enhanced packet per frame. Every packet carries the exported-PDU header that names the
// dissector ("kestra"), so Wireshark picks the Kestra dissector without any preference.
class PcapngWriter
{
public:
    enum class Direction { Unknown, Inbound, Outbound };

    explicit PcapngWriter(std::FILE *out) : m_out(out) {}

    void sectionHeader(const QByteArray &application);
    // Returns the new interface's number.
    quint32 addInterface(const QByteArray &name, const QByteArray &description);
    void packet(quint32 interface, qint64 microseconds, Direction direction, const QByteArray &payload,
                const QByteArrayList &comments);
    bool failed() const { return m_failed; }

    // The exported-PDU header put before each payload (also used by tests).
    static QByteArray upperPduHeader();

private:
    void block(quint32 type, const QByteArray &body);

    std::FILE *m_out;
    quint32 m_interfaces = 0;
    bool m_failed = false;
};
