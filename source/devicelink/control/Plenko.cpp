#include "control/Plenko.h"

#include "transport/LinkEndpoints.h"

Plenko::Plenko(QObject *parent) : Plenko(LinkEndpoints::standard(), parent) {}

Plenko::Plenko(const LinkEndpoints &endpoints, QObject *parent)
    : QObject(parent), m_endpoints(endpoints), m_recorder(endpoints), m_connection(m_recorder, this),
      m_exchange(m_recorder, m_clock, this)
{
    // The parts are members and children both: members for their lifetime, children so that the
    // transport they hold is found among the control's (tests reach the port that way).
    connect(&m_connection, &LinkConnection::transportChanged, &m_exchange, &CommandExchange::setTransport);
    connect(&m_connection, &LinkConnection::lost, &m_exchange, [this] { m_exchange.end(LinkError::LinkLost); });
}

Plenko::~Plenko() = default;

QVariant Plenko::Version()
{
    return kVersion;
}

QVariant Plenko::CommStatus()
{
    switch (m_connection.state()) {
    case LinkConnection::State::None:
    case LinkConnection::State::Connecting:
        return LinkStatus::NoLink;
    case LinkConnection::State::Open:
        return LinkStatus::Open;
    case LinkConnection::State::Started:
        return m_exchange.isRunning() ? LinkStatus::Busy : LinkStatus::Idle;
    }
    return LinkStatus::NoLink;
}

QVariant Plenko::ErrorCode()
{
    return m_exchange.outcome().errorCode;
}

QVariant Plenko::ResponseCode()
{
    return m_exchange.outcome().responseCode;
}

QVariant Plenko::ResponseData()
{
    return m_exchange.outcome().data;
}

void Plenko::setJournal(LinkJournal *journal)
{
    m_recorder.setJournal(journal);
    // The journal records the bytes the reader skips; nobody else needs them.
    m_exchange.setReportStray(journal != nullptr);
}

QVariant Plenko::OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4)
{
    if (m_connection.state() != LinkConnection::State::None)
        return AlreadyOpen;
    if (arg3 == 1 && arg4 == 1)
        return m_connection.open(m_endpoints.serialAddress(portOrAddress, speedCode));
    if (speedCode == -1 && arg3 == -1 && arg4 == -1)
        return m_connection.open(m_endpoints.tcpAddress(quint32(portOrAddress)));
    return m_connection.refuse({portOrAddress, speedCode, arg3, arg4});
}

QVariant Plenko::CloseLink()
{
    const LinkEventBatch batch(m_recorder);
    m_exchange.end(LinkError::Aborted);
    m_connection.close();
    return 0;
}

QVariant Plenko::StartLink(qint32 mode)
{
    Q_UNUSED(mode);
    return m_connection.start() ? Started : NothingOpen;
}

QVariant Plenko::StopLink()
{
    const LinkEventBatch batch(m_recorder);
    m_exchange.abandon();
    m_connection.stop();
    return 0;
}

QVariant Plenko::SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck)
{
    const LinkEventBatch batch(m_recorder);
    SendResult refusal = Accepted;
    if (m_exchange.isRunning())
        refusal = CommandRunning;
    else if (m_connection.state() != LinkConnection::State::Started)
        refusal = LinkNotStarted;
    else if (code < 0 || code > 255)
        refusal = CodeOutOfRange;
    else if (parameter.size() > kMaxParameter)
        refusal = ParameterTooLong;
    if (refusal != Accepted) {
        m_recorder.refused(code, refusal);
        return refusal;
    }

    const CommandRequest request{quint8(code), parameter, timeoutMs, dsrCheck};
    if (dsrCheck && m_connection.dsrInactive())
        m_exchange.startFailed(request, LinkError::DsrInactive); // nothing goes out
    else
        m_exchange.start(request);
    return Accepted;
}

QVariant Plenko::AbortCommand()
{
    const LinkEventBatch batch(m_recorder);
    m_exchange.abandon();
    return 0;
}
