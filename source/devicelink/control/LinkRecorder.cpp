#include "control/LinkRecorder.h"

#include "control/CardControl.h"
#include "control/LinkJournal.h"
#include "control/LinkMeaning.h"
#include "control/LinkWords.h"
#include "JournalEvents.h"
#include "protocol/Frame.h"
#include "transport/LinkEndpoints.h"

Q_LOGGING_CATEGORY(lcLink, "brindle.link", QtWarningMsg)

Journal::Kind LinkRecorder::kindOf(FrameRole role)
{
    switch (role) {
    case FrameRole::Command: return Journal::Kind::CommandFrame;
    case FrameRole::Ack: return Journal::Kind::Ack;
    case FrameRole::Nak: return Journal::Kind::Nak;
    case FrameRole::Response: return Journal::Kind::Response;
    case FrameRole::LateFrame: return Journal::Kind::LateFrame;
    case FrameRole::BadFrame: return Journal::Kind::BadFrame;
    case FrameRole::Stray: return Journal::Kind::Stray;
    case FrameRole::Dropped: return Journal::Kind::Dropped;
    }
    return Journal::Kind::Stray;
}

void LinkRecorder::hold()
{
    if (m_journal)
        m_journal->hold();
}

void LinkRecorder::release()
{
    if (m_journal)
        m_journal->release();
}

void LinkRecorder::flush()
{
    if (m_journal)
        m_journal->flush();
}

void LinkRecorder::event(Journal::Kind kind, const QString &text)
{
    if (m_journal)
        m_journal->event(kind, text);
}

void LinkRecorder::beginSession(const QString &linkName)
{
    if (m_journal)
        m_journal->beginSession(linkName);
}

void LinkRecorder::opening(const LinkAddress &address)
{
    beginSession(LinkWords::journalName(address));
}

void LinkRecorder::openCallRefused(const OpenCall &call)
{
    beginSession(QString::fromLatin1(Journal::kNoLink.toByteArray()));
    sayOpenFailed(CardControl::ArgumentsNotUnderstood, LinkWords::openCall(call), LinkWords::openCallReason(), {});
}

void LinkRecorder::openFailed(qint32 result, const LinkAddress &address, const LinkFailure &failure)
{
    sayOpenFailed(result, LinkWords::failedLink(address, failure), LinkWords::failureReason(address, failure),
                  LinkWords::failureHint(address, failure, m_endpoints.missingPortHint()));
}

void LinkRecorder::sayOpenFailed(qint32 result, const QString &what, const QString &reason, const QString &hint)
{
    const QString text = Journal::openFailedText(what, reason, result, LinkMeaning::openResult(result), hint);
    qCWarning(lcLink).noquote() << text;
    event(Journal::Kind::OpenFailed, text);
    flush();
}

void LinkRecorder::opened(const LinkAddress &address)
{
    const QString what = LinkWords::openedLink(address);
    qCInfo(lcLink).noquote() << what << LinkWords::openedWord(address);
    event(Journal::Kind::Open, what);
    flush();
}

void LinkRecorder::closed(const LinkAddress &address)
{
    const QString what = LinkWords::link(address);
    qCInfo(lcLink).noquote() << what << "closed";
    event(Journal::Kind::Close, what);
    flush();
}

void LinkRecorder::lost(const LinkAddress &address, const QString &reason)
{
    const QString what = LinkWords::link(address);
    qCWarning(lcLink).noquote() << QStringLiteral("%1 lost: %2").arg(what, reason);
    event(Journal::Kind::Lost, Journal::lostText(what, reason));
}

void LinkRecorder::dsrInactive(const LinkAddress &address)
{
    qCWarning(lcLink).noquote() << LinkWords::link(address)
                                << "DSR is not active: the device is off or not connected; "
                                   "commands with the DSR check fail until it comes back";
}

void LinkRecorder::dsrActiveAgain(const LinkAddress &address)
{
    qCInfo(lcLink).noquote() << LinkWords::link(address) << "DSR is active again";
}

void LinkRecorder::serverIdentified(const LinkAddress &address, const QString &signature)
{
    qCInfo(lcLink).noquote() << LinkWords::link(address) << "server:" << signature;
    event(Journal::Kind::Server, Journal::serverText(signature));
}

void LinkRecorder::dsrChanged(const LinkAddress &address, bool active)
{
    qCInfo(lcLink).noquote() << LinkWords::link(address) << "the server reports" << Journal::modemText(active);
    event(Journal::Kind::Modem, Journal::modemText(active));
}

void LinkRecorder::refused(qint32 code, qint32 sendResult)
{
    event(Journal::Kind::Refused, Journal::refusedText(code, LinkMeaning::sendResult(sendResult)));
}

void LinkRecorder::commandStarted(const CommandRequest &request)
{
    event(Journal::Kind::Command,
          Journal::commandText({request.code, request.timeoutMs, request.dsrCheck, request.parameter}));
}

void LinkRecorder::sent(FrameRole role, QByteArrayView bytes)
{
    if (m_journal)
        m_journal->bytes(Journal::Direction::Out, kindOf(role), bytes);
}

void LinkRecorder::received(FrameRole role, QByteArrayView bytes)
{
    if (m_journal)
        m_journal->bytes(Journal::Direction::In, kindOf(role), bytes);
}

void LinkRecorder::frameReceived(FrameRole role, QByteArrayView body)
{
    if (m_journal)
        m_journal->bytes(Journal::Direction::In, kindOf(role), encodeFrame(body));
}

void LinkRecorder::resent(int send, int maxSends)
{
    event(Journal::Kind::Resend, Journal::resendText(send, maxSends));
}

void LinkRecorder::settling()
{
    event(Journal::Kind::Settle, Journal::settleText());
}

void LinkRecorder::commandEnded(quint8 code, const CommandResult &outcome, qint64 elapsedMs)
{
    if (!m_journal)
        return;
    Journal::EndEvent end;
    end.code = code;
    end.error = outcome.errorCode;
    end.errorMeaning = LinkMeaning::errorCode(outcome.errorCode);
    if (outcome.errorCode == LinkError::None) {
        end.status = outcome.responseCode;
        end.statusMeaning = LinkMeaning::responseStatus(outcome.responseCode);
        end.data = outcome.data;
    }
    end.result = LinkMeaning::resultCode(outcome.errorCode, outcome.responseCode);
    end.elapsedMs = elapsedMs;
    event(Journal::Kind::End, Journal::endText(end));
}
