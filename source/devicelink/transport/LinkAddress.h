#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The link a caller names, as a value: everything a transport needs to open it and everything the
// record needs to name it. LinkEndpoints makes one from what the caller chose (COMn at a speed
// code, an IPv4 address); the transport registered for its kind (TransportTable) opens it.
//
// The fields of a kind mean nothing for another kind.
// A serial line's framing. The device's own is 8 data bits, no parity, one stop bit.
struct SerialLine
{
    enum class Parity : quint8 { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
    enum class StopBits : quint8 { One = 1, Two = 2, OneAndHalf = 3 };

    qint32 baudRate = 9600;
    quint8 dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
};

struct LinkAddress
{
    enum class Kind {
        Serial,   // a serial device at a speed
        Tcp,      // an IPv4 address and TCP port
        Rfc2217,  // a serial port behind a device server (rfc2217://HOST:PORT) at a speed
    };

    Kind kind = Kind::Serial;

    // Serial and Rfc2217.
    qint32 com = 0;           // the COM the caller chose; below 1 names no port
    QString path;             // the device COMn points at (Rfc2217: the URL as given)
    qint32 speedCode = 0;     // the speed as the caller gave it
    qint32 baudRate = 0;      // what that code means in bit/s; 0: it names no speed
    bool namedByPath = false; // the operator named the device by its path (kestra-send --device), not as COMn

    // Tcp.
    quint32 ipv4 = 0;
    // Tcp and Rfc2217.
    quint16 port = 0;
    // Rfc2217: the server, a host name or an address as the URL gives it; port is its TCP port.
    QString host;
    // Rfc2217: the line the server confirmed it has set; filled in once the link is open.
    std::optional<SerialLine> confirmedLine;
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
        // Rfc2217 (with the Tcp kinds for the connection to the server).
        BadUrl,         // the URL is not rfc2217://HOST:PORT
        NoPortControl,  // the server does not take the com-port option
        LineNotSet,     // the server did not confirm the line's settings in time
        LineDiffers,    // the server put other settings in force than asked
    };

    Kind kind = Kind::CannotOpen;
    // In the system's words ("Permission denied", "Connection refused"); for a busy device, who
    // holds it; for a device server, what it answered ("the server set 4800 bit/s, not 9600").
    // Empty when the failure is this program's own finding.
    QString systemReason;
};
