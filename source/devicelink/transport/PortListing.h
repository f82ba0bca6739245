#pragma once

#include <QString>

class LinkEndpoints;

// The serial ports the system knows, as the operator needs them to pick a COM: path, stable
// by-id name, what the device says it is, whether this user may open it (and what to do when
// not), and which COM points at it; then where COM1-COM9 point in endpoints. Plain "key: value"
// lines, so that a script can read them as well as a person.
QString serialPortListing(const LinkEndpoints &endpoints);
