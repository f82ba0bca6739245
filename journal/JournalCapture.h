#pragma once

#include "JournalReader.h"

#include <QString>

#include <cstdio>

// Turns a journal into a pcapng capture: one packet per frame and handshake byte, at the
// journal's time, inbound or outbound in its flags; one interface per session, named after its link and number. An
// event becomes a comment: open, command, resend and settle on the packet after it, the others
// (end, lost, close, refused) on the packet before. Events with no packet to go on get an empty
// packet of their own. Streams: memory stays the same whatever the journal's size. False with
// "FILE:LINE: reason" at the first line that is not a journal line.
bool writeCapture(JournalReader &reader, std::FILE *out, QString *error);
