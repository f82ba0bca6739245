#include "transport/LinkTransport.h"

#include <QIODevice>

LinkTransport::Opening LinkTransport::open(const LinkAddress &address)
{
    Q_UNUSED(address);
    return refuseOpen({LinkFailure::Kind::CannotOpen, {}});
}

bool LinkTransport::send(QByteArrayView bytes)
{
    if (m_lost || !m_device || !isReady())
        return false;
    if (m_device->bytesToWrite() + bytes.size() > kMaxPendingOutput) {
        reportLost(QStringLiteral("the device does not read what is sent (%1 bytes wait to go out)")
                       .arg(m_device->bytesToWrite()));
        return false;
    }
    if (m_device->write(bytes.data(), bytes.size()) != bytes.size()) {
        reportLost(m_device->errorString());
        return false;
    }
    pushOut();
    return true;
}

void LinkTransport::readAvailable()
{
    // A socket torn down by a receiver of its own report has nothing left to read.
    if (!m_device || !m_device->isOpen())
        return;
    const QByteArray bytes = m_device->readAll();
    if (!bytes.isEmpty())
        emit bytesArrived(bytes);
}
