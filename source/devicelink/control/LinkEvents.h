#pragma once

#include "transport/LinkAddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// What a byte on the line was to the control, as the record names it.
enum class FrameRole {
    Command,   // the command frame, out
    Ack,       // ACK, either way
    Nak,       // NAK, either way
    Response,  // the frame that answers the running command
    LateFrame, // a whole frame that answers no running command (an abandoned command's)
    BadFrame,  // a damaged frame, as it came
    Stray,     // bytes outside any frame
    Dropped,   // bytes read while the line settles, unread
};

// An OpenLink call as the caller made it, for one of neither form (serial, network).
struct OpenCall
{
    qint32 portOrAddress = 0;
    qint32 speedCode = 0;
    qint32 arg3 = 0;
    qint32 arg4 = 0;
};

// One command as the caller handed it over.
struct CommandRequest
{
    quint8 code = 0;
    QByteArray parameter;
    qint32 timeoutMs = 0;
    bool dsrCheck = false;
};

// How a command ended: what ErrorCode, ResponseCode and ResponseData report.
struct CommandResult
{
    qint32 errorCode = 0;
    qint32 responseCode = 0;
    QByteArray data;
};

// What happens on a link, told as it happens by the connection and the command exchange. Every
// hook is one call at the point of interest and carries data, never words: the link as an
// address, a failure as its kind and the system's reason. Words (LinkWords), files and standard
// error belong to whoever listens (LinkRecorder), so the state machines carry no record-keeping
// of their own.
//
// The hooks of one step of the link (a response, its ACK and the command's end, say) come between
// hold() and release(); a listener may collect them and write them together. Holds nest.
class LinkEvents
{
public:
    virtual ~LinkEvents() = default;

    virtual void hold() {}
    virtual void release() {}
    // Whatever was collected should be written now: the link is about to go away.
    virtual void flush() {}

    // The link: the one about to be opened (the record names it from now on), an OpenLink that
    // names none (refused, with result ArgumentsNotUnderstood), and what became of it. result is
    // the OpenLink result the caller gets.
    virtual void opening(const LinkAddress &address) { Q_UNUSED(address); }
    virtual void openCallRefused(const OpenCall &call) { Q_UNUSED(call); }
    virtual void openFailed(qint32 result, const LinkAddress &address, const LinkFailure &failure)
    {
        Q_UNUSED(result); Q_UNUSED(address); Q_UNUSED(failure);
    }
    virtual void opened(const LinkAddress &address) { Q_UNUSED(address); }
    virtual void closed(const LinkAddress &address) { Q_UNUSED(address); }
    // reason: the transport's, in the system's words.
    virtual void lost(const LinkAddress &address, const QString &reason) { Q_UNUSED(address); Q_UNUSED(reason); }
    virtual void dsrInactive(const LinkAddress &address) { Q_UNUSED(address); }
    virtual void dsrActiveAgain(const LinkAddress &address) { Q_UNUSED(address); }
    // What a device server tells of itself and of the port's modem lines, when it tells.
    virtual void serverIdentified(const LinkAddress &address, const QString &signature)
    {
        Q_UNUSED(address); Q_UNUSED(signature);
    }
    virtual void dsrChanged(const LinkAddress &address, bool active) { Q_UNUSED(address); Q_UNUSED(active); }

    // A command: refused by SendCommand, started, bytes out and in, resends, the wait for a quiet
    // line, and its end.
    virtual void refused(qint32 code, qint32 sendResult) { Q_UNUSED(code); Q_UNUSED(sendResult); }
    virtual void commandStarted(const CommandRequest &request) { Q_UNUSED(request); }
    virtual void sent(FrameRole role, QByteArrayView bytes) { Q_UNUSED(role); Q_UNUSED(bytes); }
    virtual void received(FrameRole role, QByteArrayView bytes) { Q_UNUSED(role); Q_UNUSED(bytes); }
    // A whole frame in, given by its body (Response or LateFrame); a listener that records the
    // line's bytes frames it again, so a listener that does not pays nothing.
    virtual void frameReceived(FrameRole role, QByteArrayView body) { Q_UNUSED(role); Q_UNUSED(body); }
    virtual void resent(int send, int maxSends) { Q_UNUSED(send); Q_UNUSED(maxSends); }
    virtual void settling() {}
    virtual void commandEnded(quint8 code, const CommandResult &outcome, qint64 elapsedMs)
    {
        Q_UNUSED(code); Q_UNUSED(outcome); Q_UNUSED(elapsedMs);
    }
};

// Holds the events for the lifetime of a scope: one step of the link.
class LinkEventBatch
{
public:
    explicit LinkEventBatch(LinkEvents &events) : m_events(events) { m_events.hold(); }
    ~LinkEventBatch() { m_events.release(); }
    LinkEventBatch(const LinkEventBatch &) = delete;
    LinkEventBatch &operator=(const LinkEventBatch &) = delete;

private:
    LinkEvents &m_events;
};
