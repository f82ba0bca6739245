#include "AddressState.h"

void AddressState::resetToDefault()
{
    *this = AddressState{};
}

QString AddressState::spacedText() const
{
    return QStringLiteral("%1 . %2 . %3 . %4").arg(IPOctet1).arg(IPOctet2).arg(IPOctet3).arg(IPOctet4);
}

QString AddressState::dottedText() const
{
    return QStringLiteral("%1.%2.%3.%4").arg(IPOctet1).arg(IPOctet2).arg(IPOctet3).arg(IPOctet4);
}

qint32 PackAddress(quint8 &octet1, quint8 &octet2, quint8 &octet3, quint8 &octet4)
{
    // Built unsigned, then taken as the same bit pattern: no signed overflow on the way.
    const quint32 packed = (quint32(octet1) << 24) | (quint32(octet2) << 16) | (quint32(octet3) << 8)
        | quint32(octet4);
    return qint32(packed);
}
