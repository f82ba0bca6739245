#pragma once

#include "transport/LinkAddress.h"

class LinkTransport;
class QObject;

// Which transport opens which kind of address: the one place where a kind of link is registered.
// A new kind adds its transport here (TransportTable.cpp) and nowhere in the control.
//
// A new transport for kind, child of parent; nullptr for a kind that no transport opens.
LinkTransport *makeTransport(LinkAddress::Kind kind, QObject *parent);
