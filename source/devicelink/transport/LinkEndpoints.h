#pragma once

#include "transport/LinkAddress.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// Where the serial ports COM1-COM9 and the device's TCP port are, for the controls of one
// program. The program makes one from its command line (--com, --tcp-port, kestra-send's
// --device) and hands it to whoever opens or lists links; the command line takes precedence over
// the environment (PLENKO_COMn, PLENKO_TCP_PORT), which takes precedence over the defaults
// (/dev/ttyS<n-1>, port 10001). The environment is read when asked, so that what the program
// sees at the time of an open is what counts.
class LinkEndpoints
{
public:
    static constexpr int kFirstCom = 1;
    static constexpr int kLastCom = 9;
    static constexpr quint16 kDefaultTcpPort = 10001;

    // Where COMn's path comes from, for listings that tell the operator why a port points where it does.
    enum class Source { Default, Environment, CommandLine };

    struct ComPath
    {
        QString path;
        Source source = Source::Default;
    };

    // A COM named on a command line as N=PATH (--com 1=/dev/ttyUSB0, --com 1=rfc2217://HOST:PORT):
    // N from kFirstCom to kLastCom and a path that is not empty (a sound URL when it is one);
    // nothing for any other form.
    struct ComAssignment
    {
        int port = 0;
        QString path;
    };
    static std::optional<ComAssignment> readComAssignment(const QString &text);
    // What a program says when --com N=PATH is not in that form; %1 is what was given.
    static constexpr char kComAssignmentForm[] =
        "--com takes N=PATH or N=rfc2217://HOST:PORT with N from 1 to 9, e.g. --com 1=/dev/ttyUSB0 (got '%1')";

    // Why PLENKO_TCP_PORT cannot be used ("PLENKO_TCP_PORT='http' is not a port number ..."); empty
    // when it is not set or names a port from 1 to 65535. A program refuses to start on it rather
    // than quietly use another port.
    static QString tcpPortEnvironmentError();

    // The endpoints of a program whose command line names none: the environment and the
    // defaults. What a control made without endpoints of its own uses.
    static const LinkEndpoints &standard();

    // COMn's device path. A port outside 1-9 still has a path (/dev/ttyS<n-1>), so that a failure
    // to open it names what was tried.
    ComPath comPath(qint32 port) const;
    QString serialPathFor(qint32 port) const;

    // Sets COMn's path (an empty path forgets it); n outside 1-9 is ignored.
    void setComPath(int port, const QString &path);
    // Sets COMn's path for a device the operator named by its path alone (kestra-send --device): the
    // diagnostics and the journal then name the device by that path rather than as COMn, and a
    // missing device's hint does not send the operator to COM options.
    void setComDevice(int port, const QString &path);

    // The TCP port: the one set, else PLENKO_TCP_PORT when it names a port, else 10001.
    quint16 tcpPort() const;
    // 0 forgets the setting.
    void setTcpPort(quint16 port);

    // What to do when COMn's device is missing, in the words of the program the operator runs
    // (the console names --list-ports and --com; another program its own options), with %1 for
    // the port number. Empty: the console's words (LinkWords).
    QString missingPortHint() const { return m_missingPortHint; }
    void setMissingPortHint(const QString &hintTemplate);

    // The link OpenLink names: COMn at a speed code (a device server's port when COMn's path is
    // an rfc2217:// URL), or an IPv4 address at the TCP port.
    LinkAddress serialAddress(qint32 port, qint32 speedCode) const;
    LinkAddress tcpAddress(quint32 ipv4) const;

private:
    bool namedByPath(qint32 port) const;

    std::array<QString, kLastCom + 1> m_comPaths;
    std::array<bool, kLastCom + 1> m_namedByPath{};
    quint16 m_tcpPort = 0;
    QString m_missingPortHint;
};
