#include "transport/TransportTable.h"

#include "transport/Rfc2217Transport.h"
#include "transport/SerialTransport.h"
#include "transport/TcpTransport.h"

#include <array>

namespace {

struct Registration
{
    LinkAddress::Kind kind;
    LinkTransport *(*make)(QObject *parent);
};

template <class Transport>
LinkTransport *make(QObject *parent)
{
    return new Transport(parent);
}

constexpr std::array kTransports{
    Registration{LinkAddress::Kind::Serial, &make<SerialTransport>},
    Registration{LinkAddress::Kind::Tcp, &make<TcpTransport>},
    Registration{LinkAddress::Kind::Rfc2217, &make<Rfc2217Transport>},
};

} // namespace

LinkTransport *makeTransport(LinkAddress::Kind kind, QObject *parent)
{
    for (const Registration &registration : kTransports) {
        if (registration.kind == kind)
            return registration.make(parent);
    }
    return nullptr;
}
