#include "control/LinkWords.h"

#include "control/CardControl.h"
#include "control/LinkConnection.h"
#include "control/LinkMeaning.h"
#include "JournalFormat.h"
#include "transport/PortAccess.h"

#include <QHostAddress>

namespace LinkWords {

namespace {

const char *const kDefaultMissingPortHint =
    "list the serial ports with --list-ports and name COM%1's device with --com %1=PATH";
const char *const kNoPortControlHint =
    "the server may not be set up for RFC 2217 (ser2net: accepter telnet(rfc2217),tcp,PORT)";
const char *const kMissingDeviceHint =
    "check the path (a USB adapter may have come back under another name); brindle --list-ports "
    "lists the serial ports";

// The system starts its sentences with a capital; here they follow a colon.
QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// "lab-host port 3001 (RFC 2217)": the server, for what is said about reaching it.
QString server(const LinkAddress &address)
{
    return QStringLiteral("%1 port %2 (RFC 2217)").arg(address.host).arg(address.port);
}

// "9600 bit/s 8N1"
QString lineSettings(const SerialLine &line)
{
    static const char parities[] = "NOEMS";
    const int parity = int(line.parity) - 1;
    const char *stops[] = {"1", "2", "1.5"};
    const int stop = int(line.stopBits) - 1;
    return QStringLiteral("%1 bit/s %2%3%4")
        .arg(line.baudRate)
        .arg(line.dataBits)
        .arg(QLatin1Char(parity >= 0 && parity < 5 ? parities[parity] : '?'))
        .arg(QLatin1StringView(stop >= 0 && stop < 3 ? stops[stop] : "?"));
}

} // namespace

QString link(const LinkAddress &address)
{
    switch (address.kind) {
    case LinkAddress::Kind::Serial:
        if (address.namedByPath)
            return QStringLiteral("%1 (%2 bit/s)").arg(address.path, QString::number(address.baudRate));
        return QStringLiteral("COM%1 (%2, %3 bit/s)")
            .arg(QString::number(address.com), address.path, QString::number(address.baudRate));
    case LinkAddress::Kind::Tcp:
        return QStringLiteral("%1 port %2").arg(QHostAddress(address.ipv4).toString()).arg(address.port);
    case LinkAddress::Kind::Rfc2217:
        if (address.namedByPath)
            return QStringLiteral("%1 (%2 bit/s)").arg(address.path, QString::number(address.baudRate));
        return QStringLiteral("COM%1 (%2, %3 bit/s)")
            .arg(QString::number(address.com), address.path, QString::number(address.baudRate));
    }
    return {};
}

QString openedLink(const LinkAddress &address)
{
    if (!address.confirmedLine)
        return link(address);
    return QStringLiteral("%1, the server set %2").arg(link(address), lineSettings(*address.confirmedLine));
}

QString journalName(const LinkAddress &address)
{
    switch (address.kind) {
    case LinkAddress::Kind::Serial:
    case LinkAddress::Kind::Rfc2217: // a serial port all the same, where the operator named it
        return QString::fromLatin1(address.namedByPath ? Journal::kDeviceLink.toByteArray()
                                                       : Journal::serialLinkName(address.com));
    case LinkAddress::Kind::Tcp:
        return QString::fromLatin1(Journal::kTcpLink.toByteArray());
    }
    return QString::fromLatin1(Journal::kNoLink.toByteArray());
}

QString openedWord(const LinkAddress &address)
{
    switch (address.kind) {
    case LinkAddress::Kind::Serial:
        return QStringLiteral("opened");
    case LinkAddress::Kind::Tcp:
    case LinkAddress::Kind::Rfc2217:
        return QStringLiteral("connected");
    }
    return QStringLiteral("opened");
}

QString failedLink(const LinkAddress &address, const LinkFailure &failure)
{
    switch (failure.kind) {
    case LinkFailure::Kind::NoSuchCom:
        return QStringLiteral("COM%1").arg(address.com);
    case LinkFailure::Kind::NoSuchSpeed:
        // No speed to name.
        return QStringLiteral("COM%1 (%2)").arg(QString::number(address.com), address.path);
    case LinkFailure::Kind::BadUrl:
        return address.namedByPath ? address.path : QStringLiteral("COM%1 (%2)").arg(QString::number(address.com), address.path);
    case LinkFailure::Kind::Refused:
    case LinkFailure::Kind::Unreachable:
    case LinkFailure::Kind::TimedOut:
    case LinkFailure::Kind::DroppedAtOnce:
    case LinkFailure::Kind::NoPortControl:
    case LinkFailure::Kind::LineNotSet:
    case LinkFailure::Kind::LineDiffers:
        if (address.kind == LinkAddress::Kind::Rfc2217)
            return server(address);
        return link(address);
    default:
        return link(address);
    }
}

QString failureReason(const LinkAddress &address, const LinkFailure &failure)
{
    switch (failure.kind) {
    case LinkFailure::Kind::NoSuchCom:
        return QStringLiteral("there is no COM%1").arg(address.com);
    case LinkFailure::Kind::NoSuchSpeed:
        return QStringLiteral("speed code %1 names no speed").arg(address.speedCode);
    case LinkFailure::Kind::NoSuchDevice:
    case LinkFailure::Kind::CannotOpen:
    case LinkFailure::Kind::Busy:
        return failure.systemReason;
    case LinkFailure::Kind::Refused:
    case LinkFailure::Kind::Unreachable:
        return lowerFirst(failure.systemReason);
    case LinkFailure::Kind::DroppedAtOnce:
        return QStringLiteral("the connection dropped as soon as it was made");
    case LinkFailure::Kind::TimedOut:
        return QStringLiteral("no answer within %1 seconds").arg(LinkConnection::kConnectTimeoutMs / 1000);
    case LinkFailure::Kind::Interrupted:
        return LinkMeaning::openResult(CardControl::ConnectInterrupted);
    case LinkFailure::Kind::BadUrl:
        return QStringLiteral("the URL is not rfc2217://HOST:PORT");
    case LinkFailure::Kind::NoPortControl:
    case LinkFailure::Kind::LineNotSet:
    case LinkFailure::Kind::LineDiffers:
        return failure.systemReason;
    }
    return failure.systemReason;
}

QString failureHint(const LinkAddress &address, const LinkFailure &failure, const QString &missingPortHint)
{
    switch (failure.kind) {
    case LinkFailure::Kind::NoSuchDevice:
        if (address.namedByPath)
            return QString::fromLatin1(kMissingDeviceHint);
        return (missingPortHint.isEmpty() ? QString::fromLatin1(kDefaultMissingPortHint) : missingPortHint)
            .arg(address.com);
    case LinkFailure::Kind::CannotOpen:
    case LinkFailure::Kind::Busy:
        // Looked at now: the device's owner and this process's groups as they are at the failure.
        return joinGroupHint(checkPortAccess(address.path));
    case LinkFailure::Kind::Refused:
    case LinkFailure::Kind::Unreachable:
        if (address.kind == LinkAddress::Kind::Rfc2217)
            return QStringLiteral("check that the device server runs and the host and port are right; it serves "
                                  "one client at a time");
        return QStringLiteral("check that the device is on and the address and port are right");
    case LinkFailure::Kind::TimedOut:
        if (address.kind == LinkAddress::Kind::Rfc2217)
            return QStringLiteral("check that the device server runs and the host is right");
        return QStringLiteral("check that the device is on and the address is right");
    case LinkFailure::Kind::NoPortControl:
    case LinkFailure::Kind::LineNotSet:
        return QString::fromLatin1(kNoPortControlHint);
    case LinkFailure::Kind::LineDiffers:
        return QStringLiteral("the server's port may be fixed to other settings; let it follow the client "
                              "(ser2net: no fixed speed in the connector) or set it to the device's");
    case LinkFailure::Kind::BadUrl:
        return QStringLiteral("give rfc2217://HOST:PORT, e.g. rfc2217://lab-host:3001");
    case LinkFailure::Kind::NoSuchCom:
    case LinkFailure::Kind::NoSuchSpeed:
    case LinkFailure::Kind::DroppedAtOnce:
    case LinkFailure::Kind::Interrupted:
        break;
    }
    return {};
}

QString openCall(const OpenCall &call)
{
    return QStringLiteral("OpenLink(%1, %2, %3, %4)").arg(call.portOrAddress).arg(call.speedCode).arg(call.arg3).arg(call.arg4);
}

QString openCallReason()
{
    return LinkMeaning::openResult(CardControl::ArgumentsNotUnderstood);
}

} // namespace LinkWords
