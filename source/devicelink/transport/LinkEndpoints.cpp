#include "transport/LinkEndpoints.h"

#include "JournalFormat.h"

#include <QRegularExpression>

#include <array>
#include <optional>

namespace LinkEndpoints {

namespace {

// The program runs on one thread; these are set once from the command line before any link opens.
std::array<QString, kLastCom + 1> g_comPaths;
std::array<bool, kLastCom + 1> g_namedByPath{};
quint16 g_tcpPort = 0;
QString g_missingPortHint;

const char *const kDefaultMissingPortHint =
    "list the serial ports with --list-ports and name COM%1's device with --com %1=PATH";
const char *const kMissingDeviceHint =
    "check the path (a USB adapter may have come back under another name); brindle --list-ports "
    "lists the serial ports";

bool namedByPath(qint32 port)
{
    return port >= kFirstCom && port <= kLastCom && g_namedByPath[size_t(port)] && !g_comPaths[size_t(port)].isEmpty();
}

std::optional<quint16> readPort(const QString &text)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok, 10);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

} // namespace

ComPath comPath(qint32 port)
{
    if (port >= kFirstCom && port <= kLastCom && !g_comPaths[size_t(port)].isEmpty())
        return {g_comPaths[size_t(port)], Source::CommandLine};
    const QString configured = qEnvironmentVariable(qPrintable(QStringLiteral("PLENKO_COM%1").arg(port)));
    if (!configured.isEmpty())
        return {configured, Source::Environment};
    return {QStringLiteral("/dev/ttyS%1").arg(qint64(port) - 1), Source::Default};
}

std::optional<ComAssignment> readComAssignment(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([1-9])=(.+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return ComAssignment{match.captured(1).toInt(), match.captured(2)};
}

QString serialPathFor(qint32 port)
{
    return comPath(port).path;
}

void setComPath(int port, const QString &path)
{
    if (port >= kFirstCom && port <= kLastCom) {
        g_comPaths[size_t(port)] = path;
        g_namedByPath[size_t(port)] = false;
    }
}

void setComDevice(int port, const QString &path)
{
    setComPath(port, path);
    if (port >= kFirstCom && port <= kLastCom)
        g_namedByPath[size_t(port)] = true;
}

QString describeSerial(qint32 port, qint32 baudRate)
{
    if (namedByPath(port))
        return QStringLiteral("%1 (%2 bit/s)").arg(serialPathFor(port), QString::number(baudRate));
    return QStringLiteral("COM%1 (%2, %3 bit/s)").arg(QString::number(port), serialPathFor(port), QString::number(baudRate));
}

QString journalName(qint32 port)
{
    return QString::fromLatin1(namedByPath(port) ? Journal::kDeviceLink.toByteArray() : Journal::serialLinkName(port));
}

quint16 tcpPort()
{
    if (g_tcpPort != 0)
        return g_tcpPort;
    return readPort(qEnvironmentVariable("PLENKO_TCP_PORT")).value_or(kDefaultTcpPort);
}

QString tcpPortEnvironmentError()
{
    const QString value = qEnvironmentVariable("PLENKO_TCP_PORT");
    if (value.isEmpty() || readPort(value))
        return {};
    return QStringLiteral("PLENKO_TCP_PORT='%1' is not a port number: give one from 1 to 65535, or unset it for "
                          "port %2").arg(value).arg(kDefaultTcpPort);
}

void setTcpPort(quint16 port)
{
    g_tcpPort = port;
}

QString missingPortHint(qint32 port)
{
    if (namedByPath(port))
        return QString::fromLatin1(kMissingDeviceHint);
    const QString hint = g_missingPortHint.isEmpty() ? QString::fromLatin1(kDefaultMissingPortHint) : g_missingPortHint;
    return hint.arg(port);
}

void setMissingPortHint(const QString &hintTemplate)
{
    g_missingPortHint = hintTemplate;
}

void reset()
{
    g_missingPortHint.clear();
    for (QString &path : g_comPaths)
        path.clear();
    g_namedByPath.fill(false);
    g_tcpPort = 0;
}

} // namespace LinkEndpoints
