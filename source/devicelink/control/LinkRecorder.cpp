#include "control/LinkRecorder.h"

#include "control/CardControl.h"
#include "control/LinkJournal.h"
#include "control/LinkMeaning.h"
#include "protocol/DeviceText.h"
#include "protocol/Frame.h"

Q_LOGGING_CATEGORY(lcLink, "brindle.link", QtWarningMsg)

namespace {

QString hexCode(quint8 code)
{
    return QStringLiteral("%1").arg(uint(code), 2, 16, QLatin1Char('0'));
}

} // namespace

const char *LinkRecorder::roleName(FrameRole role)
{
    switch (role) {
    case FrameRole::Command: return "command";
    case FrameRole::Ack: return "ACK";
    case FrameRole::Nak: return "NAK";
    case FrameRole::Response: return "response";
    case FrameRole::LateFrame: return "late-frame";
    case FrameRole::BadFrame: return "bad-frame";
    case FrameRole::Stray: return "stray";
    case FrameRole::Dropped: return "dropped";
    }
    return "?";
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

void LinkRecorder::event(const char *kind, const QString &text)
{
    if (m_journal)
        m_journal->event(kind, text);
}

void LinkRecorder::linkNamed(const QString &name)
{
    if (m_journal)
        m_journal->setLink(name);
}

void LinkRecorder::openFailed(qint32 result, const QString &what, const QString &reason, const QString &hint)
{
    const QString text = QStringLiteral("%1 does not open: %2 (OpenLink result %3: %4)%5")
                             .arg(what, reason, QString::number(result), LinkMeaning::openResult(result),
                                  hint.isEmpty() ? QString() : QStringLiteral("; ") + hint);
    qCWarning(lcLink).noquote() << text;
    event("open-failed", text);
    flush();
}

void LinkRecorder::opened(const QString &what, const char *how)
{
    qCInfo(lcLink).noquote() << what << how;
    event("open", what);
    flush();
}

void LinkRecorder::closed(const QString &what)
{
    qCInfo(lcLink).noquote() << what << "closed";
    event("close", what);
    flush();
}

void LinkRecorder::lost(const QString &what, const QString &reason)
{
    qCWarning(lcLink).noquote() << QStringLiteral("%1 lost: %2").arg(what, reason);
    event("lost", QStringLiteral("%1: %2").arg(what, reason));
}

void LinkRecorder::dsrInactive(const QString &what)
{
    qCWarning(lcLink).noquote() << what
                                << "DSR is not active: the device is off or not connected; "
                                   "commands with the DSR check fail until it comes back";
}

void LinkRecorder::dsrActiveAgain(const QString &what)
{
    qCInfo(lcLink).noquote() << what << "DSR is active again";
}

void LinkRecorder::refused(qint32 code, qint32 sendResult)
{
    event("refused", QStringLiteral("code %1: %2").arg(QString::number(code, 16), LinkMeaning::sendResult(sendResult)));
}

void LinkRecorder::commandStarted(const CommandRequest &request)
{
    event("command", QStringLiteral("code %1, time-out %2 ms, DSR check %3, parameter %4")
                         .arg(hexCode(request.code))
                         .arg(request.timeoutMs)
                         .arg(request.dsrCheck ? QStringLiteral("on") : QStringLiteral("off"),
                              LinkJournal::bytesOrNone(request.parameter)));
}

void LinkRecorder::sent(FrameRole role, QByteArrayView bytes)
{
    if (m_journal)
        m_journal->bytes(LinkJournal::Direction::Out, roleName(role), bytes);
}

void LinkRecorder::received(FrameRole role, QByteArrayView bytes)
{
    if (m_journal)
        m_journal->bytes(LinkJournal::Direction::In, roleName(role), bytes);
}

void LinkRecorder::frameReceived(FrameRole role, QByteArrayView body)
{
    if (m_journal)
        m_journal->bytes(LinkJournal::Direction::In, roleName(role), encodeFrame(body));
}

void LinkRecorder::resent(int send, int maxSends)
{
    event("resend", QStringLiteral("send %1 of %2 after NAK").arg(send).arg(maxSends));
}

void LinkRecorder::settling()
{
    event("settle", QStringLiteral("the frame waits for the line to fall quiet after the command before was given up"));
}

void LinkRecorder::commandEnded(quint8 code, const CommandResult &outcome, qint64 elapsedMs)
{
    if (!m_journal)
        return;
    QString text = QStringLiteral("code %1, error %2 (%3)")
                       .arg(hexCode(code))
                       .arg(outcome.errorCode)
                       .arg(LinkMeaning::errorCode(outcome.errorCode));
    const bool answered = outcome.errorCode == LinkError::None;
    if (answered)
        text += QStringLiteral(", status %1 (%2)")
                    .arg(outcome.responseCode, 2, 16, QLatin1Char('0'))
                    .arg(LinkMeaning::responseStatus(outcome.responseCode));
    text += QStringLiteral(", result %1, %2 ms")
                .arg(LinkMeaning::resultCode(outcome.errorCode, outcome.responseCode))
                .arg(elapsedMs);
    if (answered) {
        text += QStringLiteral(", data ") + LinkJournal::bytesOrNone(outcome.data);
        if (!outcome.data.isEmpty())
            text += QStringLiteral(", text ") + LinkJournal::quoted(decodeDeviceText(outcome.data));
    }
    event("end", text);
}
