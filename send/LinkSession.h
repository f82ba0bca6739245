#pragma once

#include "CommandPlan.h"
#include "SendOptions.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

class CardControl;
class LinkEndpoints;

// How one command ended.
struct CommandOutcome
{
    qint32 sendResult = 0;  // SendCommand's answer; not 0: refused, nothing sent
    qint32 errorCode = 0;   // ErrorCode after the command (when it was accepted)
    qint32 status = 0;      // the device's status byte (when errorCode is 0)
    QByteArray data;        // the response data
    qint32 result = -1;     // the console's result code: 0, 1 or -1
    double elapsedMs = 0;   // from SendCommand to the command's end
};

// kestra-send's use of the card control: open and start the link, run commands one after the
// other, waiting for each in the event loop, and end the link. An interruption (Ctrl-C) aborts
// what runs, so that every wait returns at once.
class LinkSession
{
public:
    // endpoints are the control's: the session points them at the target before each open. Not
    // owned: both must outlive the session.
    LinkSession(CardControl &control, LinkEndpoints &endpoints) : m_control(control), m_endpoints(endpoints) {}

    // Opens and starts the link. False with a message for the operator when it does not open
    // (empty when the control has said why on standard error already).
    bool open(const LinkTarget &target, QString *error);
    // Closes the link if it is open (a lost link is closed already) and opens it again.
    bool reopen(const LinkTarget &target, QString *error);
    // What the last open's OpenLink returned; nothing when it was not reached (a host name that
    // does not resolve).
    std::optional<qint32> openResult() const { return m_openResult; }
    // "COM1 (/dev/ttyS0) at 9600 bit/s", "/dev/ttyUSB0 at 9600 bit/s", "127.0.0.1 port 10001".
    QString describe(const LinkTarget &target) const;
    CommandOutcome run(const PlannedCommand &command);
    // Stops and closes the link (nothing when none is open).
    void close();

    // Aborts the running command, or the wait for a connection or a host name. Called from the
    // event loop; later calls to open or run return at once.
    void interrupt();
    bool isInterrupted() const { return m_interrupted; }

private:
    bool resolveHost(const QString &host, quint32 *address, QString *error);

    CardControl &m_control;
    LinkEndpoints &m_endpoints;
    bool m_interrupted = false;
    std::optional<qint32> m_openResult;
    class QEventLoop *m_lookupLoop = nullptr;
};
