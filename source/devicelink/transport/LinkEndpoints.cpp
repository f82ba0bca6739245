#include "transport/LinkEndpoints.h"

#include <QRegularExpression>

#include <array>

namespace LinkEndpoints {

namespace {

// The program runs on one thread; these are set once from the command line before any link opens.
std::array<QString, kLastCom + 1> g_comPaths;
quint16 g_tcpPort = 0;
QString g_missingPortHint;

const char *const kDefaultMissingPortHint =
    "list the serial ports with --list-ports and name COM%1's device with --com %1=PATH";

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
    if (port >= kFirstCom && port <= kLastCom)
        g_comPaths[size_t(port)] = path;
}

quint16 tcpPort()
{
    if (g_tcpPort != 0)
        return g_tcpPort;
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("PLENKO_TCP_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : kDefaultTcpPort;
}

void setTcpPort(quint16 port)
{
    g_tcpPort = port;
}

QString missingPortHint(qint32 port)
{
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
    g_tcpPort = 0;
}

} // namespace LinkEndpoints
