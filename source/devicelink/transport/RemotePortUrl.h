#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// A serial port on another machine, named where a serial device is named (--com 1=URL,
// kestra-send --device URL, PLENKO_COMn): rfc2217://HOST:PORT, with HOST a host name, an IPv4
// address or an IPv6 address in brackets.
namespace RemotePortUrl {

struct Parts
{
    QString host; // as given, without the brackets of an IPv6 address
    quint16 port = 0;
};

// Whether text is meant as a remote port (it starts with rfc2217://, in any case), sound or not.
bool isRemotePort(const QString &text);
// The host and port of a sound URL; nothing otherwise.
std::optional<Parts> read(const QString &text);
// Why a URL that isRemotePort() is not sound, in words that show the form; empty when it is.
QString problem(const QString &text);

} // namespace RemotePortUrl
