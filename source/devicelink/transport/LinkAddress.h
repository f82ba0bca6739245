#pragma once

#include <QString>
#include <QtGlobal>

// The link a caller names, as a value: everything a transport needs to open it and everything the
// record needs to name it. LinkEndpoints makes one from what the caller chose (COMn at a speed
// code, an IPv4 address); the transport registered for its kind (TransportTable) opens it.
//
// The fields of a kind mean nothing for another kind.
struct LinkAddress
{
    enum class Kind {
        Serial, // a serial device at a speed
        Tcp,    // an IPv4 address and TCP port
    };

    Kind kind = Kind::Serial;

    // Serial.
    qint32 com = 0;           // the COM the caller chose; below 1 names no port
    QString path;             // the device COMn points at
    qint32 speedCode = 0;     // the speed as the caller gave it
    qint32 baudRate = 0;      // what that code means in bit/s; 0: it names no speed
    bool namedByPath = false; // the operator named the device by its path (kestra-send --device), not as COMn

    // Tcp.
    quint32 ipv4 = 0;
    quint16 port = 0;
};

// Why a link did not open: the kind of failure, for the result and the words the record gives it,
// and the system's own words when it has any.
struct LinkFailure
{
    enum class Kind {
        // Serial.
        NoSuchCom,    // the COM number names no port
        NoSuchSpeed,  // the speed code names no speed
        NoSuchDevice, // nothing at the device's path
        CannotOpen,   // the device is there but does not open (permission, not a serial device)
        Busy,         // another program holds the device
        // Tcp.
        Refused,       // the peer refused the connection
        Unreachable,   // any other failure to connect (no route, reset)
        DroppedAtOnce, // the connection dropped as soon as it was made
        TimedOut,      // no answer within the connect wait
        Interrupted,   // the caller ended the connect wait
    };

    Kind kind = Kind::CannotOpen;
    // In the system's words ("Permission denied", "Connection refused"); for a busy device, who
    // holds it. Empty when the failure is this program's own finding.
    QString systemReason;
};
