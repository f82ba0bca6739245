#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QVariant>
#include <QtGlobal>

// What CommStatus reports.
namespace LinkStatus {
constexpr qint32 NoLink = 0;     // nothing open
constexpr qint32 Open = 1;       // open, not started (or stopped)
constexpr qint32 Idle = 2;       // started, no command running
constexpr qint32 Busy = 3;       // a command is running
}

// What ErrorCode reports after a command.
namespace LinkError {
constexpr qint32 None = 0;
constexpr qint32 DsrInactive = 102;
constexpr qint32 LinkLost = 103;
constexpr qint32 Refused = 104;      // the device answered NAK three times
constexpr qint32 BadResponse = 105;  // three malformed response frames
constexpr qint32 Aborted = 106;
constexpr qint32 TimedOut = 107;
}

constexpr qint32 kResponseNormal = DeviceStatus::Normal;

// The card control as the window sees it. Results are variants so that callers apply the
// window's own conversions (CardCalls); by-reference arguments are references so that a value
// the control writes back reaches the caller's variable.
class CardControl
{
public:
    // What OpenLink returns.
    enum OpenResult : qint32 {
        Opened = 0,
        NoSuchPort = 1,         // port number below 1, or no device at its path
        CannotOpen = 2,         // the device exists but does not open (busy, no permission, not a tty)
        ConnectionFailed = 3,   // the network refused the connection or cannot reach the address,
                                // or the connection dropped again before OpenLink returned
        ConnectTimedOut = 4,    // not connected within the connect wait (3 seconds)
        AlreadyOpen = 5,        // a link is open or being connected; nothing changes
        ArgumentsNotUnderstood = 6, // a speed code outside 0-5, or neither the serial nor the network form
        ConnectInterrupted = 7, // CloseLink, the control's end or the application's end came during the wait
    };

    // What SendCommand returns.
    enum SendResult : qint32 {
        Accepted = 0,
        LinkNotStarted = 1,
        CommandRunning = 2,
        CodeOutOfRange = 3,   // outside 0-255
        ParameterTooLong = 4, // more than kMaxParameter bytes
    };

    // What StartLink returns.
    enum StartResult : qint32 { Started = 0, NothingOpen = 1 };

    // The longest parameter a command takes: one body byte is the command code.
    static constexpr int kMaxParameter = Wire::kMaxBody - 1;

    virtual ~CardControl() = default;

    virtual QVariant Version() = 0;
    virtual QVariant CommStatus() = 0;
    virtual QVariant ErrorCode() = 0;
    virtual QVariant ResponseCode() = 0;
    virtual QVariant ResponseData() = 0; // device bytes (QByteArray)

    // Serial: (port 1-9, speed code 1-5, 1, 1). Network: (packed IPv4 address, -1, -1, -1).
    virtual QVariant OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4) = 0;
    virtual QVariant CloseLink() = 0;
    virtual QVariant StartLink(qint32 mode) = 0;
    virtual QVariant StopLink() = 0;
    virtual QVariant SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck) = 0;
    virtual QVariant AbortCommand() = 0;
};
