#include "control/Plenko.h"

#include "protocol/DeviceText.h"
#include "transport/LinkEndpoints.h"
#include "control/LinkJournal.h"
#include "control/LinkMeaning.h"
#include "transport/LinkTransport.h"
#include "transport/ModemLines.h"
#include "transport/PortAccess.h"
#include "transport/SerialTransport.h"
#include "transport/TcpTransport.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>

Q_LOGGING_CATEGORY(lcLink, "brindle.link", QtWarningMsg)

Plenko::Plenko(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    // A coarse timer may fire 5 % late, a second and a half on a 30-second command.
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &Plenko::handleTimeout);
    m_quietGap.setSingleShot(true);
    connect(&m_quietGap, &QTimer::timeout, this, &Plenko::lineSettled);
}

Plenko::~Plenko()
{
    interruptConnectWait();
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        delete m_transport;
        m_transport = nullptr;
    }
}

QVariant Plenko::Version()
{
    return kVersion;
}

QVariant Plenko::CommStatus()
{
    switch (m_link) {
    case Link::None:
    case Link::Connecting:
        return LinkStatus::NoLink;
    case Link::Open:
        return LinkStatus::Open;
    case Link::Started:
        return m_command ? LinkStatus::Busy : LinkStatus::Idle;
    }
    return LinkStatus::NoLink;
}

QVariant Plenko::ErrorCode()
{
    return m_errorCode;
}

QVariant Plenko::ResponseCode()
{
    return m_responseCode;
}

QVariant Plenko::ResponseData()
{
    return m_responseData;
}

qint32 Plenko::baudRateFor(qint32 speedCode)
{
    switch (speedCode) {
    case 0: return 9600; // no speed chosen yet
    case 1: return 19200;
    case 2: return 9600;
    case 3: return 4800;
    case 4: return 2400;
    case 5: return 38400;
    default: return 0;
    }
}

void Plenko::setJournal(LinkJournal *journal)
{
    m_journal = journal;
    // The journal records the bytes the reader skips; nobody else needs them.
    m_reader.setReportStray(journal != nullptr);
}

QVariant Plenko::OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4)
{
    if (m_link != Link::None)
        return AlreadyOpen;
    m_openFailure.clear();
    if (arg3 == 1 && arg4 == 1)
        return openSerial(portOrAddress, speedCode);
    if (speedCode == -1 && arg3 == -1 && arg4 == -1)
        return openNetwork(quint32(portOrAddress));
    if (m_journal)
        m_journal->setLink(QStringLiteral("-"));
    openFailed(ArgumentsNotUnderstood,
               QStringLiteral("OpenLink(%1, %2, %3, %4)").arg(portOrAddress).arg(speedCode).arg(arg3).arg(arg4),
               LinkMeaning::openResult(ArgumentsNotUnderstood));
    return ArgumentsNotUnderstood;
}

void Plenko::openFailed(qint32 result, const QString &what, const QString &reason, const QString &hint)
{
    m_openFailure = reason;
    const QString text = QStringLiteral("%1 does not open: %2 (OpenLink result %3: %4)%5")
                             .arg(what, reason, QString::number(result), LinkMeaning::openResult(result),
                                  hint.isEmpty() ? QString() : QStringLiteral("; ") + hint);
    qCWarning(lcLink).noquote() << text;
    if (m_journal) {
        m_journal->event("open-failed", text);
        m_journal->flush();
    }
}

qint32 Plenko::openSerial(qint32 port, qint32 speedCode)
{
    const QString path = LinkEndpoints::serialPathFor(port);
    const qint32 baudRate = baudRateFor(speedCode);
    const QString what = LinkEndpoints::describeSerial(port, baudRate);
    if (m_journal)
        m_journal->setLink(LinkEndpoints::journalName(port));
    if (port < 1) {
        openFailed(NoSuchPort, QStringLiteral("COM%1").arg(port), QStringLiteral("there is no COM%1").arg(port));
        return NoSuchPort;
    }
    if (baudRate == 0) {
        openFailed(ArgumentsNotUnderstood, QStringLiteral("COM%1 (%2)").arg(QString::number(port), path),
                   QStringLiteral("speed code %1 names no speed").arg(speedCode));
        return ArgumentsNotUnderstood;
    }
    auto *serial = new SerialTransport(this);
    const SerialTransport::OpenResult opened = serial->open(path, baudRate);
    const QString reason = serial->openError();
    if (opened != SerialTransport::OpenResult::Opened) {
        delete serial;
        if (opened == SerialTransport::OpenResult::NoSuchPort) {
            openFailed(NoSuchPort, what, reason, LinkEndpoints::missingPortHint(port));
            return NoSuchPort;
        }
        openFailed(CannotOpen, what, reason, joinGroupHint(checkPortAccess(path)));
        return CannotOpen;
    }
    attach(serial);
    m_link = Link::Open;
    m_linkDescription = what;
    qCInfo(lcLink).noquote() << what << "opened";
    if (m_journal) {
        m_journal->event("open", what);
        m_journal->flush();
    }
    return Opened;
}

// The wait for the connection runs a local event loop, so other handlers of the window run
// during it and may call the control again:
// - OpenLink answers AlreadyOpen, SendCommand LinkNotStarted, StartLink NothingOpen, CommStatus 0;
// - CloseLink abandons the attempt: this call returns ConnectInterrupted without touching the
//   link, so a later OpenLink from the same handler may open another link meanwhile;
// - the control may even be destroyed: this call then returns without touching it.
// The socket is never deleted while this frame could still refer to it: a torn-down transport
// goes through deleteLater(), and this frame looks only at its own ConnectWait afterwards.
qint32 Plenko::openNetwork(quint32 address)
{
    auto *tcp = new TcpTransport(this);
    attach(tcp);
    m_link = Link::Connecting;
    const quint64 generation = m_linkGeneration;

    QEventLoop loop;
    ConnectWait wait;
    wait.loop = &loop;
    m_connectWait = &wait;

    using Outcome = ConnectWait::Outcome;
    // The first outcome decides. The loop quits, but it returns only when the handler that ran
    // inside it does; a later report, such as the limit running out while a handler that has
    // closed this attempt waits in a loop of its own, must not turn an interrupted attempt into a
    // failed one, whose teardown would hit the link that handler has opened since.
    const auto decide = [&wait, &loop](Outcome outcome) {
        if (wait.outcome == Outcome::Pending)
            wait.outcome = outcome;
        loop.quit();
    };
    connect(tcp, &TcpTransport::connected, &loop, [decide] { decide(Outcome::Connected); });
    connect(tcp, &TcpTransport::connectFailed, &loop,
            [decide](bool refused) { decide(refused ? Outcome::Refused : Outcome::Failed); });
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    connect(&limit, &QTimer::timeout, &loop, [decide] { decide(Outcome::TimedOut); });
    limit.start(kConnectTimeoutMs);
    const quint16 port = LinkEndpoints::tcpPort();
    const QString what = QStringLiteral("%1 port %2").arg(QHostAddress(address).toString()).arg(port);
    if (m_journal)
        m_journal->setLink(QStringLiteral("tcp"));
    tcp->connectTo(address, port);

    QPointer<Plenko> self(this);
    if (wait.outcome == Outcome::Pending)
        loop.exec();
    if (!self)
        return ConnectInterrupted;
    if (m_connectWait == &wait)
        m_connectWait = nullptr;

    switch (wait.outcome) {
    case Outcome::Connected:
        // A handler that ran in the loop's last turn may have waited in turn while the peer hung
        // up; the link's loss has then been handled already and nothing is left to open.
        if (m_linkGeneration != generation || m_link != Link::Connecting) {
            openFailed(ConnectionFailed, what, QStringLiteral("the connection dropped as soon as it was made"));
            return ConnectionFailed;
        }
        m_link = Link::Open;
        m_linkDescription = what;
        qCInfo(lcLink).noquote() << what << "connected";
        if (m_journal) {
            m_journal->event("open", what);
            m_journal->flush();
        }
        return Opened;
    case Outcome::Interrupted:
        // CloseLink ran during the wait and has torn this attempt down already.
        m_openFailure = LinkMeaning::openResult(ConnectInterrupted);
        return ConnectInterrupted;
    case Outcome::Pending: // the application quit every event loop
        detach();
        m_openFailure = LinkMeaning::openResult(ConnectInterrupted);
        return ConnectInterrupted;
    case Outcome::Refused:
    case Outcome::Failed: {
        QString reason = tcp->failureReason();
        if (!reason.isEmpty())
            reason[0] = reason[0].toLower();
        detach();
        openFailed(ConnectionFailed, what, reason,
                   QStringLiteral("check that the device is on and the address and port are right"));
        return ConnectionFailed;
    }
    case Outcome::TimedOut:
        detach();
        openFailed(ConnectTimedOut, what, QStringLiteral("no answer within %1 seconds").arg(kConnectTimeoutMs / 1000),
                   QStringLiteral("check that the device is on and the address is right"));
        return ConnectTimedOut;
    }
    return ConnectionFailed;
}

void Plenko::attach(LinkTransport *transport)
{
    m_transport = transport;
    const quint64 generation = ++m_linkGeneration;
    m_reader.reset();
    connect(transport, &LinkTransport::bytesArrived, this, &Plenko::handleBytes);
    // The link is torn down from the event loop, never inside the transport's own notifier.
    connect(transport, &LinkTransport::lost, this, [this, generation] { handleLinkLost(generation); },
            Qt::QueuedConnection);
}

void Plenko::detach()
{
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->shutDown();
        m_transport->deleteLater();
        m_transport = nullptr;
    }
    ++m_linkGeneration;
    m_reader.reset();
    m_lineUnsettled = false;
    m_dsrReportedInactive = false; // a new link says it again
    m_link = Link::None;
}

void Plenko::interruptConnectWait()
{
    if (!m_connectWait)
        return;
    // Overrides whatever else was reported: CloseLink has torn the attempt down.
    m_connectWait->outcome = ConnectWait::Outcome::Interrupted;
    m_connectWait->loop->quit();
    m_connectWait = nullptr;
}

QVariant Plenko::CloseLink()
{
    const LinkJournalBatch batch(m_journal);
    if (m_command)
        endCommand(LinkError::Aborted);
    interruptConnectWait();
    if (m_link == Link::Open || m_link == Link::Started) {
        qCInfo(lcLink).noquote() << m_linkDescription << "closed";
        if (m_journal) {
            m_journal->event("close", m_linkDescription);
            m_journal->flush();
        }
    }
    detach();
    return 0;
}

QVariant Plenko::StartLink(qint32 mode)
{
    Q_UNUSED(mode);
    if (m_link == Link::Open)
        m_link = Link::Started;
    return m_link == Link::Started ? Started : NothingOpen;
}

QVariant Plenko::StopLink()
{
    const LinkJournalBatch batch(m_journal);
    if (m_command) {
        forgetCutFrame();
        endCommand(LinkError::Aborted);
    }
    if (m_link == Link::Started)
        m_link = Link::Open;
    return 0;
}

QVariant Plenko::SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck)
{
    const LinkJournalBatch batch(m_journal);
    SendResult refusal = Accepted;
    if (m_command)
        refusal = CommandRunning;
    else if (m_link != Link::Started)
        refusal = LinkNotStarted;
    else if (code < 0 || code > 255)
        refusal = CodeOutOfRange;
    else if (parameter.size() > kMaxParameter)
        refusal = ParameterTooLong;
    if (refusal != Accepted) {
        if (m_journal)
            m_journal->event("refused", QStringLiteral("code %1: %2").arg(QString::number(code, 16), LinkMeaning::sendResult(refusal)));
        return refusal;
    }

    m_errorCode = LinkError::None;
    m_responseCode = 0;
    m_responseData.clear();
    m_command.emplace(Command{});
    ++m_commandGeneration;
    m_commandCode = code;
    m_commandClock.start();
    m_command->parameter = parameter;
    m_command->timeoutMs = timeoutMs;
    m_command->dsrCheck = dsrCheck;

    if (dsrCheck) {
        ModemLines *lines = m_transport->modemLines(); // nullptr over TCP: the flag does not apply
        if (lines && m_modemLinesOverride)
            lines = m_modemLinesOverride;
        if (lines) {
            const std::optional<bool> dsr = lines->dsrActive();
            if (dsr.has_value() && !*dsr) {
                // Said once until DSR comes back, not once per command that finds it off.
                if (!m_dsrReportedInactive)
                    qCWarning(lcLink).noquote() << m_linkDescription
                                                << "DSR is not active: the device is off or not connected; "
                                                   "commands with the DSR check fail until it comes back";
                m_dsrReportedInactive = true;
                journalCommand();
                // Nothing goes out; the end still comes from the event loop, like any other.
                endCommandLater(LinkError::DsrInactive);
                return Accepted;
            }
            if (dsr.value_or(true) && m_dsrReportedInactive) {
                m_dsrReportedInactive = false;
                qCInfo(lcLink).noquote() << m_linkDescription << "DSR is active again";
            }
        }
    }

    QByteArray body;
    body.reserve(1 + parameter.size());
    body.append(char(quint8(code)));
    body.append(parameter);
    m_command->frame = encodeFrame(body);
    if (timeoutMs > 0)
        m_timeout.start(timeoutMs);
    if (m_lineUnsettled) {
        // The device may still be sending for the command before (see forgetCutFrame): the frame
        // goes out once the line has been quiet for a moment, within this command's time-out.
        m_command->phase = Phase::Settling;
        journalCommand();
        if (m_journal)
            m_journal->event("settle", QStringLiteral("the frame waits for the line to fall quiet after the "
                                                      "command before was given up"));
        m_settleClock.start();
        m_quietGap.start(kQuietGapMs);
        return Accepted;
    }
    // A failed write reports the link lost; that report ends the command from the event loop.
    sendFrame();
    return Accepted;
}

QVariant Plenko::AbortCommand()
{
    const LinkJournalBatch batch(m_journal);
    if (m_command) {
        forgetCutFrame();
        endCommand(LinkError::Aborted);
    }
    return 0;
}

void Plenko::sendFrame()
{
    m_command->phase = Phase::AwaitAck;
    ++m_command->sends;
    // The device waits for the frame: it goes out first, the record of it after.
    m_transport->send(m_command->frame);
    if (m_journal) {
        if (m_command->sends == 1 && !m_command->announced)
            journalCommand();
        if (m_command->sends > 1)
            m_journal->event("resend", QStringLiteral("send %1 of %2 after NAK").arg(m_command->sends).arg(kMaxSends));
        m_journal->bytes(LinkJournal::Direction::Out, "command", m_command->frame);
    }
}

void Plenko::sendByte(char byte)
{
    if (!m_transport)
        return;
    m_transport->send(QByteArrayView(&byte, 1));
}

void Plenko::journalCommand()
{
    if (!m_journal || m_command->announced)
        return;
    m_command->announced = true;
    m_journal->event("command", QStringLiteral("code %1, time-out %2 ms, DSR check %3, parameter %4")
                                    .arg(uint(quint8(m_commandCode)), 2, 16, QLatin1Char('0'))
                                    .arg(m_command->timeoutMs)
                                    .arg(m_command->dsrCheck ? QStringLiteral("on") : QStringLiteral("off"),
                                         LinkJournal::bytesOrNone(m_command->parameter)));
}

void Plenko::journalBytes(bool incoming, const char *kind, QByteArrayView bytes)
{
    if (m_journal)
        m_journal->bytes(incoming ? LinkJournal::Direction::In : LinkJournal::Direction::Out, kind, bytes);
}

void Plenko::handleBytes(const QByteArray &bytes)
{
    const LinkJournalBatch batch(m_journal);
    if (m_command && m_command->phase == Phase::Settling) {
        // Still the command before's: dropped unread. A line that never falls quiet holds the
        // frame back kMaxSettleMs at most.
        journalBytes(true, "dropped", bytes);
        if (m_settleClock.elapsed() < kMaxSettleMs)
            m_quietGap.start(kQuietGapMs);
        return;
    }
    const QList<FrameReader::Item> items = m_reader.feed(bytes);
    for (const FrameReader::Item &item : items)
        handleItem(item);
}

void Plenko::handleItem(const FrameReader::Item &item)
{
    const Phase phase = m_command ? m_command->phase : Phase::Ending;
    switch (item.kind) {
    case FrameReader::Kind::Ack:
        journalBytes(true, "ACK", QByteArrayView("\x06", 1));
        if (phase == Phase::AwaitAck)
            m_command->phase = Phase::AwaitResponse;
        break;
    case FrameReader::Kind::Nak:
        journalBytes(true, "NAK", QByteArrayView("\x15", 1));
        if (phase != Phase::AwaitAck)
            break;
        if (m_command->sends >= kMaxSends)
            endCommand(LinkError::Refused);
        else
            sendFrame();
        break;
    case FrameReader::Kind::Frame:
        // Only a frame that follows this command's ACK answers it: the device writes in order, so
        // an earlier, abandoned command's response comes before. A stale frame is acknowledged
        // only while no command is out: once this command's frame has gone out, the device drops
        // the stale answer when it reads that frame, and an ACK sent now could reach it after it
        // has sent this command's response, be taken for that one's and stop a resend it owes.
        if (phase != Phase::AwaitAck)
            sendByte(Wire::ACK);
        // Written down after the ACK is out, in the order things happened on the line.
        if (m_journal) {
            journalBytes(true, phase == Phase::AwaitResponse ? "response" : "late-frame", encodeFrame(item.body));
            if (phase != Phase::AwaitAck)
                journalBytes(false, "ACK", QByteArrayView("\x06", 1));
        }
        if (phase == Phase::AwaitResponse)
            endCommand(LinkError::None, quint8(item.body.at(0)), item.body.mid(1));
        break;
    case FrameReader::Kind::BadFrame:
        // Ask again only for a frame this command waits for. A NAK for a stale frame could reach
        // the device after it has started on the next command and be taken for that one's.
        if (phase == Phase::AwaitResponse)
            sendByte(Wire::NAK);
        journalBytes(true, "bad-frame", item.body);
        if (phase != Phase::AwaitResponse)
            break;
        journalBytes(false, "NAK", QByteArrayView("\x15", 1));
        if (++m_command->badResponses >= kMaxBadResponses)
            endCommand(LinkError::BadResponse);
        break;
    case FrameReader::Kind::Stray:
        journalBytes(true, "stray", item.body);
        break;
    }
}

void Plenko::handleLinkLost(quint64 linkGeneration)
{
    const LinkJournalBatch batch(m_journal);
    if (linkGeneration != m_linkGeneration)
        return;
    const QString reason = m_transport ? m_transport->lostReason() : QString();
    qCWarning(lcLink).noquote() << QStringLiteral("%1 lost: %2").arg(m_linkDescription, reason);
    if (m_journal)
        m_journal->event("lost", QStringLiteral("%1: %2").arg(m_linkDescription, reason));
    if (m_command)
        endCommand(LinkError::LinkLost);
    if (m_journal)
        m_journal->flush();
    detach();
}

void Plenko::handleTimeout()
{
    const LinkJournalBatch batch(m_journal);
    if (!m_command)
        return;
    forgetCutFrame();
    endCommand(LinkError::TimedOut);
}

void Plenko::lineSettled()
{
    const LinkJournalBatch batch(m_journal);
    if (!m_command || m_command->phase != Phase::Settling)
        return;
    m_reader.reset(); // what was read while idle may have begun inside a cut frame's rest
    m_lineUnsettled = false;
    sendFrame();
}

void Plenko::forgetCutFrame()
{
    // Called as a command is given up, before it ends. The response may be half-way through, or
    // cut short for good (a length that promised more than came); either way it must not swallow
    // the next one, so reading starts afresh. Its rest may still arrive as loose bytes: an STX
    // among them (in the data, or as the checksum) would start a false frame that swallows the
    // next answer, an ACK or NAK byte would be taken for the next command's. And when the ACK
    // itself has not come, it may be held up on the line together with the answer, and the two
    // would be taken for the next command's. The frames cannot tell these apart from the next
    // command's traffic; so the next frame waits until the line has been quiet for a moment.
    // After a normal ending, or a time-out while the ACK was in and nothing arriving, nothing
    // waits.
    m_lineUnsettled = m_lineUnsettled || m_reader.inFrame()
                      || (m_command && m_command->phase == Phase::AwaitAck);
    m_reader.reset();
}

void Plenko::endCommand(qint32 errorCode, qint32 responseCode, const QByteArray &data)
{
    m_timeout.stop();
    m_quietGap.stop();
    m_command.reset();
    ++m_commandGeneration;
    m_errorCode = errorCode;
    m_responseCode = responseCode;
    m_responseData = data;
    if (m_journal)
        journalEnd();
}

void Plenko::journalEnd()
{
    QString text = QStringLiteral("code %1, error %2 (%3)")
                       .arg(uint(quint8(m_commandCode)), 2, 16, QLatin1Char('0'))
                       .arg(m_errorCode)
                       .arg(LinkMeaning::errorCode(m_errorCode));
    if (m_errorCode == LinkError::None)
        text += QStringLiteral(", status %1 (%2)")
                    .arg(m_responseCode, 2, 16, QLatin1Char('0'))
                    .arg(LinkMeaning::responseStatus(m_responseCode));
    text += QStringLiteral(", result %1, %2 ms")
                .arg(LinkMeaning::resultCode(m_errorCode, m_responseCode))
                .arg(m_commandClock.elapsed());
    if (m_errorCode == LinkError::None) {
        text += QStringLiteral(", data ") + LinkJournal::bytesOrNone(m_responseData);
        if (!m_responseData.isEmpty())
            text += QStringLiteral(", text ") + LinkJournal::quoted(decodeDeviceText(m_responseData));
    }
    m_journal->event("end", text);
}

void Plenko::endCommandLater(qint32 errorCode)
{
    m_command->phase = Phase::Ending;
    const quint64 generation = m_commandGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, errorCode] {
            const LinkJournalBatch batch(m_journal);
            if (m_command && generation == m_commandGeneration)
                endCommand(errorCode);
        },
        Qt::QueuedConnection);
}
