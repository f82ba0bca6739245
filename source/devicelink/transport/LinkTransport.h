#pragma once

#include "transport/LinkAddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <optional>

class ModemLines;
class QIODevice;

// One byte link to the device: a serial port or a TCP connection. The control above it speaks
// the frame protocol and does not care which one it holds. Both links write and read through
// this class; a subclass opens the address it is registered for (TransportTable), reports its
// failures and closes it.
//
// A transport reports the end of its link once, through lost(), and never closes itself under
// its owner: the owner tears it down (shutDown(), then deleteLater()) when it handles lost().
class LinkTransport : public QObject
{
    Q_OBJECT
public:
    // Output that may wait for the line before a peer that does not read counts as gone. A command
    // frame is at most 65,540 bytes and is repeated only after the device has read it, so a sound
    // link never comes near this.
    static constexpr qint64 kMaxPendingOutput = 256 * 1024;

    // How open() answers.
    enum class Opening {
        Opened,  // open now
        Failed,  // did not open; openFailure() says why
        Pending, // the answer comes through opened() or openFailed()
    };

    using QObject::QObject;

    // Opens the link that address names. A transport that opens at once (opensLater() false)
    // answers Opened or Failed and emits neither signal. One that opens later answers Pending and
    // reports through opened() or openFailed() once (nothing after shutDown()); that report may
    // come from inside this call, when the system refuses at once, so its receivers are connected
    // before the call.
    // A link that is made open (one in memory) has no address to open: it answers Failed.
    virtual Opening open(const LinkAddress &address);
    // Whether open() waits for the far end (a connection being made): its owner then holds the
    // transport during the wait and may give up on it.
    virtual bool opensLater() const { return false; }
    // How long the owner waits for a pending open at most; a transport with stages of its own
    // (a device server's negotiation after the connection) times them itself within this.
    virtual int openLimitMs() const { return kOpenLimitMs; }
    static constexpr int kOpenLimitMs = 3000;
    // The line the far end confirmed it has set (a device server); nothing for a link that does
    // not say (a local port is set as asked or does not open).
    virtual std::optional<SerialLine> confirmedLine() const { return std::nullopt; }
    // Why the last open() failed; meaningful once it has answered Failed or emitted openFailed().
    LinkFailure openFailure() const { return m_openFailure; }

    // Queues bytes for the line. False when the link is gone or the bytes cannot be queued; in
    // that case lost() has been (or already was) reported.
    virtual bool send(QByteArrayView bytes);

    // Closes the line at once. Nothing is emitted afterwards and send() fails from then on.
    virtual void shutDown() = 0;

    // The link's modem lines, or nullptr for a link that has none (TCP).
    virtual ModemLines *modemLines() { return nullptr; }

    bool isLost() const { return m_lost; }
    // Why the link ended, in the system's words ("Input/output error", "the peer closed the
    // connection"); empty while it lasts or when its owner closed it.
    QString lostReason() const { return m_lostReason; }

signals:
    // The outcome of an open() that answered Pending.
    void opened();
    void openFailed();

    void bytesArrived(const QByteArray &bytes);
    void lost();
    // The far end's modem lines as it reports them (a device server's NOTIFY-MODEMSTATE): DSR
    // changed to active.
    void dsrChanged(bool active);
    // A device server's signature, as it sent it.
    void serverIdentified(const QString &signature);

protected:
    // The open device that send() writes to and readAvailable() reads from; nullptr until open.
    void setDevice(QIODevice *device) { m_device = device; }
    // Whether the device is ready for bytes (a socket still connecting is not).
    virtual bool isReady() const = 0;
    // Hands what write() buffered to the system now, without blocking, rather than a turn of the
    // event loop later: a command's frame should not wait for the next poll.
    virtual void pushOut() = 0;
    // Hands what the device has buffered to bytesArrived().
    void readAvailable();

    // Marks the link as gone and emits lost() the first time only.
    void reportLost(const QString &reason)
    {
        if (m_lost)
            return;
        m_lost = true;
        m_lostReason = reason;
        emit lost();
    }
    // Marks the link as gone without a report: the owner closed it.
    void markClosed() { m_lost = true; }

    // Records why open() fails, for an answer of Failed.
    Opening refuseOpen(const LinkFailure &failure)
    {
        m_openFailure = failure;
        return Opening::Failed;
    }
    // Records why a pending open failed and reports it.
    void reportOpenFailed(const LinkFailure &failure)
    {
        m_openFailure = failure;
        emit openFailed();
    }

private:
    QIODevice *m_device = nullptr;
    bool m_lost = false;
    QString m_lostReason;
    LinkFailure m_openFailure;
};
