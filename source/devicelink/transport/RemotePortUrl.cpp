#include "transport/RemotePortUrl.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace RemotePortUrl {

namespace {

constexpr QLatin1StringView kScheme("rfc2217://");

} // namespace

bool isRemotePort(const QString &text)
{
    return text.startsWith(kScheme, Qt::CaseInsensitive);
}

std::optional<Parts> read(const QString &text)
{
    if (!isRemotePort(text))
        return std::nullopt;
    // A host name (letters, digits, dots, hyphens), or [an IPv6 address]; then :PORT and nothing
    // after it: pyserial's ?options mean nothing here and are refused rather than ignored.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?)):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = form.match(text.mid(kScheme.size()));
    if (!match.hasMatch())
        return std::nullopt;
    const uint port = match.captured(3).toUInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    const bool bracketed = match.capturedLength(1) > 0;
    const QString host = bracketed ? match.captured(1) : match.captured(2);
    if (bracketed && QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return Parts{host, quint16(port)};
}

QString problem(const QString &text)
{
    if (read(text))
        return {};
    return QStringLiteral("'%1' is not a remote serial port: give rfc2217://HOST:PORT, e.g. rfc2217://lab-host:3001")
        .arg(text);
}

} // namespace RemotePortUrl
