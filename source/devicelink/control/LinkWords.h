#pragma once

#include "control/LinkEvents.h"
#include "transport/LinkAddress.h"

#include <QString>

// The words for a link, made from what the hooks carry: how standard error and the journal name
// a link, what a failed open names, why it failed and what the operator can do about it. The
// connection and the control hand over addresses and failures; everything said about them is
// said here. The numbers' meanings are LinkMeaning's.
namespace LinkWords {

// "COM1 (/dev/ttyUSB0, 9600 bit/s)"; "/dev/ttyUSB0 (9600 bit/s)" for a device named by its path;
// "127.0.0.1 port 10001"; "COM1 (rfc2217://lab-host:3001, 9600 bit/s)".
QString link(const LinkAddress &address);
// The link as its open is told: link(), and for a device server the line it confirmed
// ("COM1 (rfc2217://lab-host:3001, 9600 bit/s), the server set 9600 bit/s 8N1").
QString openedLink(const LinkAddress &address);
// The link's name on the journal's lines: "com1", "device" for a device named by its path, "tcp".
QString journalName(const LinkAddress &address);
// What became of an open that worked: "opened" (a serial port) or "connected" (a network address).
QString openedWord(const LinkAddress &address);

// What a failed open names: the link, or as much of it as the failure leaves ("COM0").
QString failedLink(const LinkAddress &address, const LinkFailure &failure);
// Why it failed: the system's words, or this program's for a failure of its own finding.
QString failureReason(const LinkAddress &address, const LinkFailure &failure);
// What the operator can do about it; empty when there is nothing to say. missingPortHint is the
// program's own advice for a missing COM device, with %1 for the port (LinkEndpoints); empty for
// the console's.
QString failureHint(const LinkAddress &address, const LinkFailure &failure, const QString &missingPortHint);

// An OpenLink of neither form: what it names ("OpenLink(1, 2, 0, 0)") and why it is refused.
QString openCall(const OpenCall &call);
QString openCallReason();

} // namespace LinkWords
