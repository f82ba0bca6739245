#include "transport/LinkEndpoints.h"

#include "protocol/LineSpeeds.h"
#include "transport/RemotePortUrl.h"

#include <QRegularExpression>

namespace {

std::optional<quint16> readPort(const QString &text)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok, 10);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

bool isCom(qint32 port)
{
    return port >= LinkEndpoints::kFirstCom && port <= LinkEndpoints::kLastCom;
}

} // namespace

const LinkEndpoints &LinkEndpoints::standard()
{
    static const LinkEndpoints endpoints;
    return endpoints;
}

bool LinkEndpoints::namedByPath(qint32 port) const
{
    return isCom(port) && m_namedByPath[size_t(port)] && !m_comPaths[size_t(port)].isEmpty();
}

LinkEndpoints::ComPath LinkEndpoints::comPath(qint32 port) const
{
    if (isCom(port) && !m_comPaths[size_t(port)].isEmpty())
        return {m_comPaths[size_t(port)], Source::CommandLine};
    const QString configured = qEnvironmentVariable(qPrintable(QStringLiteral("PLENKO_COM%1").arg(port)));
    if (!configured.isEmpty())
        return {configured, Source::Environment};
    return {QStringLiteral("/dev/ttyS%1").arg(qint64(port) - 1), Source::Default};
}

std::optional<LinkEndpoints::ComAssignment> LinkEndpoints::readComAssignment(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([1-9][0-9]*)=(.+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int port = match.captured(1).toInt(&ok);
    if (!ok || !isCom(port))
        return std::nullopt;
    const QString path = match.captured(2);
    if (RemotePortUrl::isRemotePort(path) && !RemotePortUrl::read(path))
        return std::nullopt;
    return ComAssignment{port, path};
}

QString LinkEndpoints::serialPathFor(qint32 port) const
{
    return comPath(port).path;
}

void LinkEndpoints::setComPath(int port, const QString &path)
{
    if (isCom(port)) {
        m_comPaths[size_t(port)] = path;
        m_namedByPath[size_t(port)] = false;
    }
}

void LinkEndpoints::setComDevice(int port, const QString &path)
{
    setComPath(port, path);
    if (isCom(port))
        m_namedByPath[size_t(port)] = true;
}

quint16 LinkEndpoints::tcpPort() const
{
    if (m_tcpPort != 0)
        return m_tcpPort;
    return readPort(qEnvironmentVariable("PLENKO_TCP_PORT")).value_or(kDefaultTcpPort);
}

QString LinkEndpoints::tcpPortEnvironmentError()
{
    const QString value = qEnvironmentVariable("PLENKO_TCP_PORT");
    if (value.isEmpty() || readPort(value))
        return {};
    return QStringLiteral("PLENKO_TCP_PORT='%1' is not a port number: give one from 1 to 65535, or unset it for "
                          "port %2").arg(value).arg(kDefaultTcpPort);
}

void LinkEndpoints::setTcpPort(quint16 port)
{
    m_tcpPort = port;
}

void LinkEndpoints::setMissingPortHint(const QString &hintTemplate)
{
    m_missingPortHint = hintTemplate;
}

LinkAddress LinkEndpoints::serialAddress(qint32 port, qint32 speedCode) const
{
    LinkAddress address;
    address.kind = LinkAddress::Kind::Serial;
    address.com = port;
    address.path = serialPathFor(port);
    address.speedCode = speedCode;
    address.baudRate = LineSpeeds::bitsPerSecond(speedCode);
    address.namedByPath = namedByPath(port);
    // A COM that names a device server's URL is that server's port; a URL that is not sound
    // leaves host and port empty, and its transport says so.
    if (RemotePortUrl::isRemotePort(address.path)) {
        address.kind = LinkAddress::Kind::Rfc2217;
        if (const std::optional<RemotePortUrl::Parts> parts = RemotePortUrl::read(address.path)) {
            address.host = parts->host;
            address.port = parts->port;
        }
    }
    return address;
}

LinkAddress LinkEndpoints::tcpAddress(quint32 ipv4) const
{
    LinkAddress address;
    address.kind = LinkAddress::Kind::Tcp;
    address.ipv4 = ipv4;
    address.port = tcpPort();
    return address;
}
