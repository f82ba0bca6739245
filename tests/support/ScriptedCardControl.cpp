#include "ScriptedCardControl.h"

#include <QTimer>

ScriptedCardControl::ScriptedCardControl(QObject *parent) : QObject(parent) {}

QList<Dispid> ScriptedCardControl::callIds() const
{
    QList<Dispid> ids;
    for (const Call &call : calls)
        ids.append(call.id);
    return ids;
}

int ScriptedCardControl::count(Dispid id) const
{
    return int(std::count_if(calls.begin(), calls.end(), [id](const Call &c) { return c.id == id; }));
}

QList<ScriptedCardControl::Call> ScriptedCardControl::callsOf(Dispid id) const
{
    QList<Call> found;
    for (const Call &call : calls)
        if (call.id == id)
            found.append(call);
    return found;
}

void ScriptedCardControl::record(Dispid id, QVariantList args)
{
    calls.append({id, std::move(args)});
    if (beforeCall)
        beforeCall(id);
}

QVariant ScriptedCardControl::Version()
{
    record(Dispid::Version);
    return version;
}

QVariant ScriptedCardControl::CommStatus()
{
    record(Dispid::CommStatus);
    return m_status;
}

QVariant ScriptedCardControl::ErrorCode()
{
    record(Dispid::ErrorCode);
    return m_errorCode;
}

QVariant ScriptedCardControl::ResponseCode()
{
    record(Dispid::ResponseCode);
    return m_responseCode;
}

QVariant ScriptedCardControl::ResponseData()
{
    record(Dispid::ResponseData);
    return m_responseData;
}

QVariant ScriptedCardControl::OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4)
{
    record(Dispid::OpenLink, {portOrAddress, speedCode, arg3, arg4});
    if (openWritesPort)
        portOrAddress = *openWritesPort;
    if (openWritesSpeed)
        speedCode = *openWritesSpeed;
    if (openResult.toInt() == 0)
        m_status = LinkStatus::Open;
    return openResult;
}

QVariant ScriptedCardControl::CloseLink()
{
    record(Dispid::CloseLink);
    endRunning(LinkError::Aborted, LinkStatus::NoLink);
    m_status = LinkStatus::NoLink;
    return 0;
}

QVariant ScriptedCardControl::StartLink(qint32 mode)
{
    record(Dispid::StartLink, {mode});
    if (m_status == LinkStatus::Open)
        m_status = LinkStatus::Idle;
    return 0;
}

QVariant ScriptedCardControl::StopLink()
{
    record(Dispid::StopLink);
    endRunning(LinkError::Aborted, LinkStatus::Open);
    if (m_status == LinkStatus::Idle)
        m_status = LinkStatus::Open;
    return 0;
}

QVariant ScriptedCardControl::SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck)
{
    record(Dispid::SendCommand, {code, parameter, timeoutMs, dsrCheck});
    const Outcome outcome = outcomes.isEmpty() ? defaultOutcome : outcomes.takeFirst();
    if (outcome.sendResult.toInt() != 0)
        return outcome.sendResult;
    ++m_generation;
    if (outcome.endsBeforeReturn) {
        finish(outcome);
        return 0;
    }
    m_status = LinkStatus::Busy;
    if (!outcome.neverEnds) {
        const quint64 generation = m_generation;
        QTimer::singleShot(outcome.runMs, this, [this, outcome, generation] {
            if (generation == m_generation && m_status == LinkStatus::Busy)
                finish(outcome);
        });
    }
    return 0;
}

QVariant ScriptedCardControl::AbortCommand()
{
    record(Dispid::AbortCommand);
    endRunning(LinkError::Aborted, LinkStatus::Idle);
    return 0;
}

void ScriptedCardControl::finish(const Outcome &outcome)
{
    m_errorCode = outcome.errorCode;
    m_responseCode = outcome.responseCode;
    m_responseData = outcome.responseData;
    m_status = LinkStatus::Idle;
}

void ScriptedCardControl::endRunning(qint32 errorCode, qint32 newStatus)
{
    if (m_status != LinkStatus::Busy)
        return;
    ++m_generation;
    m_errorCode = errorCode;
    m_responseCode = 0;
    m_responseData = QByteArray();
    m_status = newStatus;
}
