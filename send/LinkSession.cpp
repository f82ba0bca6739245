#include "LinkSession.h"

#include "control/CardControl.h"
#include "control/LinkDiagnostics.h"
#include "transport/LinkEndpoints.h"
#include "control/LinkMeaning.h"
#include "window/CardCalls.h"
#include "protocol/LineSpeeds.h"
#include "window/CommandEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>

QString LinkSession::describe(const LinkTarget &target) const
{
    const QString speedText = QString::number(LineSpeeds::bitsPerSecond(target.speedCode));
    switch (target.kind) {
    case LinkTarget::Kind::Device:
        return QStringLiteral("%1 at %2 bit/s").arg(target.device, speedText);
    case LinkTarget::Kind::Com:
        return QStringLiteral("COM%1 (%2) at %3 bit/s")
            .arg(QString::number(target.com), m_endpoints.serialPathFor(target.com), speedText);
    case LinkTarget::Kind::Tcp:
        return QStringLiteral("%1 port %2").arg(target.host).arg(target.port ? target.port : m_endpoints.tcpPort());
    case LinkTarget::Kind::None:
        break;
    }
    return QStringLiteral("no link");
}

bool LinkSession::resolveHost(const QString &host, quint32 *address, QString *error)
{
    QHostAddress literal;
    if (literal.setAddress(host)) {
        if (literal.protocol() != QAbstractSocket::IPv4Protocol) {
            *error = QStringLiteral("%1 is not an IPv4 address; the device speaks IPv4 only").arg(host);
            return false;
        }
        *address = literal.toIPv4Address();
        return true;
    }
    // A name: looked up without blocking the event loop, so that Ctrl-C ends a slow lookup.
    QHostInfo info;
    QEventLoop loop;
    m_lookupLoop = &loop;
    const int id = QHostInfo::lookupHost(host, &loop, [&info, &loop](const QHostInfo &found) {
        info = found;
        loop.quit();
    });
    loop.exec();
    m_lookupLoop = nullptr;
    if (m_interrupted) {
        QHostInfo::abortHostLookup(id);
        *error = QStringLiteral("interrupted while looking up %1").arg(host);
        return false;
    }
    for (const QHostAddress &found : info.addresses()) {
        if (found.protocol() == QAbstractSocket::IPv4Protocol) {
            *address = found.toIPv4Address();
            return true;
        }
    }
    *error = info.error() != QHostInfo::NoError
                 ? QStringLiteral("the host name %1 does not resolve: %2").arg(host, info.errorString())
                 : QStringLiteral("the host name %1 has no IPv4 address").arg(host);
    return false;
}

bool LinkSession::open(const LinkTarget &target, QString *error)
{
    if (m_interrupted) {
        *error = QStringLiteral("interrupted");
        return false;
    }
    qint32 portOrAddress = 0;
    qint32 speedCode = target.speedCode;
    qint32 result = CardControl::ArgumentsNotUnderstood;
    m_openResult.reset();
    switch (target.kind) {
    case LinkTarget::Kind::Device:
        m_endpoints.setComDevice(1, target.device);
        portOrAddress = 1;
        result = m_control.OpenLink(portOrAddress, speedCode, 1, 1).toInt();
        break;
    case LinkTarget::Kind::Com:
        if (!target.comPath.isEmpty())
            m_endpoints.setComPath(target.com, target.comPath);
        portOrAddress = target.com;
        result = m_control.OpenLink(portOrAddress, speedCode, 1, 1).toInt();
        break;
    case LinkTarget::Kind::Tcp: {
        quint32 address = 0;
        if (!resolveHost(target.host, &address, error))
            return false;
        if (target.port != 0)
            m_endpoints.setTcpPort(target.port);
        portOrAddress = qint32(address);
        speedCode = -1;
        result = m_control.OpenLink(portOrAddress, speedCode, -1, -1).toInt();
        break;
    }
    case LinkTarget::Kind::None:
        break;
    }
    m_openResult = result;
    if (result != CardControl::Opened) {
        // The control has said why on standard error already (brindle.link), with a hint; say it
        // here only when those lines are switched off, so that it is said once.
        if (lcLink().isWarningEnabled() && result != CardControl::ConnectInterrupted) {
            error->clear();
            return false;
        }
        const QString reason = CardCalls(m_control).lastOpenFailure();
        *error = QStringLiteral("%1 did not open: %2 (OpenLink result %3)")
                     .arg(describe(target), reason.isEmpty() ? LinkMeaning::openResult(result) : reason)
                     .arg(result);
        return false;
    }
    if (m_interrupted) {
        close();
        *error = QStringLiteral("interrupted");
        return false;
    }
    m_control.StartLink(0);
    return true;
}

CommandOutcome LinkSession::run(const PlannedCommand &command)
{
    CommandOutcome outcome;
    qint32 code = command.code;
    QByteArray parameter = command.parameter;
    qint32 timeoutMs = command.timeoutMs;
    bool dsr = command.dsr;
    QElapsedTimer clock;
    clock.start();
    outcome.sendResult = m_control.SendCommand(code, parameter, timeoutMs, dsr).toInt();
    if (outcome.sendResult != CardControl::Accepted) {
        outcome.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
        return outcome;
    }
    CardCalls calls(m_control);
    waitForCommandEnd(calls);
    outcome.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
    const CommandEnd end = readCommandEnd(calls);
    outcome.errorCode = end.errorCode;
    outcome.status = end.responseCode;
    outcome.data = end.responseData;
    outcome.result = end.result;
    return outcome;
}

bool LinkSession::reopen(const LinkTarget &target, QString *error)
{
    close();
    return open(target, error);
}

void LinkSession::close()
{
    if (m_control.CommStatus().toInt() == LinkStatus::NoLink)
        return;
    // The ACK of the last response is still queued for the line; closing at once would drop it
    // and the device would count its response as undelivered. One pass of the event loop lets
    // the line take it.
    QCoreApplication::processEvents();
    m_control.StopLink();
    m_control.CloseLink();
}

void LinkSession::interrupt()
{
    m_interrupted = true;
    if (m_lookupLoop)
        m_lookupLoop->quit();
    const qint32 status = m_control.CommStatus().toInt();
    if (status == LinkStatus::Busy)
        m_control.AbortCommand();
    else if (status == LinkStatus::NoLink)
        m_control.CloseLink(); // ends a connection being made
}
