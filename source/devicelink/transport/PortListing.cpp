#include "transport/PortListing.h"

#include "transport/LinkEndpoints.h"
#include "transport/PortAccess.h"
#include "transport/RemotePortUrl.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QStringList>

namespace {

// /dev/serial/by-id names a USB adapter by what it is, so the name survives replugging.
QHash<QString, QString> byIdNames()
{
    QHash<QString, QString> names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty())
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

QString sourceName(LinkEndpoints::Source source, int port)
{
    switch (source) {
    case LinkEndpoints::Source::CommandLine: return QStringLiteral("--com");
    case LinkEndpoints::Source::Environment: return QStringLiteral("PLENKO_COM%1").arg(port);
    case LinkEndpoints::Source::Default: break;
    }
    return QStringLiteral("default");
}

QString accessText(const QString &path)
{
    // A device server's port: whether it opens is the server's to say, at the open.
    if (RemotePortUrl::isRemotePort(path))
        return RemotePortUrl::read(path) ? QStringLiteral("remote (RFC 2217), not checked here")
                                         : QStringLiteral("no, ") + RemotePortUrl::problem(path);
    const PortAccess access = checkPortAccess(path);
    if (!access.exists)
        return QStringLiteral("no, no such device");
    if (!access.notATerminal.isEmpty())
        return QStringLiteral("no, ") + access.notATerminal;
    if (access.mayOpen)
        return QStringLiteral("yes");
    const QString hint = joinGroupHint(access);
    return QStringLiteral("no, owned by group %1%2").arg(access.group, hint.isEmpty() ? QString() : QStringLiteral("; ") + hint);
}

// The COM ports that point at path, directly or through a link.
QStringList comsFor(const LinkEndpoints &endpoints, const QString &path)
{
    QStringList coms;
    for (int port = LinkEndpoints::kFirstCom; port <= LinkEndpoints::kLastCom; ++port) {
        const LinkEndpoints::ComPath com = endpoints.comPath(port);
        const QString resolved = QFileInfo(com.path).canonicalFilePath();
        if (com.path == path || (!resolved.isEmpty() && resolved == path))
            coms << QStringLiteral("COM%1 (%2)").arg(port).arg(sourceName(com.source, port));
    }
    return coms;
}

void addField(QString &out, const char *key, const QString &value)
{
    if (!value.isEmpty())
        out += QStringLiteral("  %1 ").arg(QLatin1String(key) + QLatin1Char(':'), -14) + value + QLatin1Char('\n');
}

} // namespace

QString serialPortListing(const LinkEndpoints &endpoints)
{
    QString out;
    const QHash<QString, QString> byId = byIdNames();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        const QString path = port.systemLocation();
        out += path + QLatin1Char('\n');
        addField(out, "by-id", byId.value(path));
        addField(out, "description", port.description());
        addField(out, "manufacturer", port.manufacturer());
        if (port.hasVendorIdentifier() && port.hasProductIdentifier())
            addField(out, "usb-id", QStringLiteral("%1:%2")
                                        .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                        .arg(port.productIdentifier(), 4, 16, QLatin1Char('0')));
        addField(out, "serial-number", port.serialNumber());
        addField(out, "may-open", accessText(path));
        const QStringList coms = comsFor(endpoints, path);
        addField(out, "mapped-to", coms.isEmpty() ? QStringLiteral("-") : coms.join(QStringLiteral(", ")));
    }
    if (ports.isEmpty())
        out += QStringLiteral("no serial ports found: plug the adapter in and look at \"sudo dmesg | tail\", or "
                              "name any device (a pseudo-terminal, for one) with --com N=PATH\n");

    out += QStringLiteral("\nCOM ports now:\n");
    for (int port = LinkEndpoints::kFirstCom; port <= LinkEndpoints::kLastCom; ++port) {
        const LinkEndpoints::ComPath com = endpoints.comPath(port);
        out += QStringLiteral("  COM%1 %2 (%3) may-open: %4\n")
                   .arg(QString::number(port), com.path, sourceName(com.source, port), accessText(com.path));
    }
    return out;
}
