#pragma once

#include <QString>
#include <QtGlobal>

// The network address the card control was last told to use, four parts from the most
// significant (IPOctet1, the leftmost in dotted notation) to the least. It lives as long as
// the program, held by the main window; only the address dialog's Set changes it.
struct AddressState
{
    quint8 IPOctet1 = 192;
    quint8 IPOctet2 = 168;
    quint8 IPOctet3 = 0;
    quint8 IPOctet4 = 0;

    // The address the program starts with: 192.168.0.0.
    void resetToDefault();

    // "192 . 168 . 0 . 10": the form the connection label shows.
    QString spacedText() const;
    // "192.168.0.10": the usual dotted form, for messages.
    QString dottedText() const;
};

// The packed address: the first part in bits 31-24, the fourth in bits 7-0, as a signed
// 32-bit integer (a first part of 128 or more gives a negative number).
qint32 PackAddress(quint8 &octet1, quint8 &octet2, quint8 &octet3, quint8 &octet4);
