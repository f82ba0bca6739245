#include "control/LinkMeaning.h"

#include "control/CardControl.h"
#include "protocol/Protocol.h"

#include <array>

namespace LinkMeaning {

namespace {

enum class Kind { OpenResult, SendResult, ErrorCode, Status };

struct Entry
{
    Kind kind;
    qint32 value;
    const char *meaning;
};

constexpr std::array kTable{
    Entry{Kind::OpenResult, CardControl::Opened, "opened"},
    Entry{Kind::OpenResult, CardControl::NoSuchPort, "no such port: no device at its path"},
    Entry{Kind::OpenResult, CardControl::CannotOpen,
          "the device exists but does not open (busy, no permission, or not a serial device)"},
    Entry{Kind::OpenResult, CardControl::ConnectionFailed,
          "the connection was refused, the address cannot be reached, or the connection dropped at once"},
    Entry{Kind::OpenResult, CardControl::ConnectTimedOut, "no connection within 3 seconds"},
    Entry{Kind::OpenResult, CardControl::AlreadyOpen, "a link is already open or being connected"},
    Entry{Kind::OpenResult, CardControl::ArgumentsNotUnderstood, "arguments not understood"},
    Entry{Kind::OpenResult, CardControl::ConnectInterrupted, "the wait for the connection was interrupted"},

    Entry{Kind::SendResult, CardControl::Accepted, "accepted"},
    Entry{Kind::SendResult, CardControl::LinkNotStarted, "the link is not open and started"},
    Entry{Kind::SendResult, CardControl::CommandRunning, "another command is running"},
    Entry{Kind::SendResult, CardControl::CodeOutOfRange, "the command code is outside 00-FF"},
    Entry{Kind::SendResult, CardControl::ParameterTooLong, "the parameter is longer than 65,534 bytes"},

    Entry{Kind::ErrorCode, LinkError::None, "a response was received"},
    Entry{Kind::ErrorCode, LinkError::DsrInactive,
          "DSR is not active (the device is off or not connected); nothing was sent"},
    Entry{Kind::ErrorCode, LinkError::LinkLost, "the link was lost"},
    Entry{Kind::ErrorCode, LinkError::Refused, "the device refused the command three times (NAK)"},
    Entry{Kind::ErrorCode, LinkError::BadResponse, "three damaged response frames"},
    Entry{Kind::ErrorCode, LinkError::Aborted, "abandoned (aborted, or the link was stopped or closed)"},
    Entry{Kind::ErrorCode, LinkError::TimedOut, "time-out: no complete response in time"},

    Entry{Kind::Status, DeviceStatus::Normal, "normal completion"},
    Entry{Kind::Status, DeviceStatus::NoCard, "no card in the slot"},
    Entry{Kind::Status, DeviceStatus::ParameterError, "parameter error"},
    Entry{Kind::Status, DeviceStatus::UnknownCommand, "unknown command"},
    Entry{Kind::Status, DeviceStatus::ReadError, "read error: nothing on the stripe"},
    Entry{Kind::Status, DeviceStatus::BufferEmpty, "buffer empty"},
    Entry{Kind::Status, DeviceStatus::BufferFull, "buffer full"},
};

QString lookUp(Kind kind, qint32 value, const char *unknown)
{
    for (const Entry &entry : kTable) {
        if (entry.kind == kind && entry.value == value)
            return QString::fromLatin1(entry.meaning);
    }
    return QString::fromLatin1(unknown);
}

} // namespace

QString openResult(qint32 result)
{
    return lookUp(Kind::OpenResult, result, "unknown OpenLink result");
}

QString sendResult(qint32 result)
{
    return lookUp(Kind::SendResult, result, "an unknown refusal");
}

QString errorCode(qint32 errorCode)
{
    return lookUp(Kind::ErrorCode, errorCode, "unknown error");
}

QString responseStatus(qint32 status)
{
    return lookUp(Kind::Status, status, "a status this console does not know");
}

qint32 resultCode(qint32 errorCode, qint32 responseCode)
{
    if (errorCode == LinkError::None)
        return responseCode == DeviceStatus::Normal ? ResultCode::Completed : ResultCode::Failed;
    return errorCode == LinkError::TimedOut ? ResultCode::TimedOut : ResultCode::Failed;
}

} // namespace LinkMeaning
