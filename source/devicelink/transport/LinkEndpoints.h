#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Where the serial ports COM1-COM9 and the device's TCP port are, for every control in the
// program. A program's command line names them (--com, --tcp-port) and takes precedence over the
// environment (PLENKO_COMn, PLENKO_TCP_PORT), which takes precedence over the defaults
// (/dev/ttyS<n-1>, port 10001).
namespace LinkEndpoints {

constexpr int kFirstCom = 1;
constexpr int kLastCom = 9;
constexpr quint16 kDefaultTcpPort = 10001;

// Where COMn's path comes from, for listings that tell the operator why a port points where it does.
enum class Source { Default, Environment, CommandLine };

struct ComPath
{
    QString path;
    Source source = Source::Default;
};

// COMn's device path. A port outside 1-9 still has a path (/dev/ttyS<n-1>), so that a failure
// to open it names what was tried.
ComPath comPath(qint32 port);
QString serialPathFor(qint32 port);

// Sets COMn's path for the rest of the run (an empty path forgets it); n outside 1-9 is ignored.
void setComPath(int port, const QString &path);

// Sets COMn's path for a device the operator named by its path alone (kestra-send --device): the
// diagnostics and the journal then name the device by that path rather than as COMn, and a
// missing device's hint does not send the operator to COM options.
void setComDevice(int port, const QString &path);
// How the diagnostics name COMn's link at that speed: "COM1 (/dev/ttyUSB0, 9600 bit/s)", or for a
// device named by its path "/dev/ttyUSB0 (9600 bit/s)".
QString describeSerial(qint32 port, qint32 baudRate);
// The link's name on the journal's lines: "com1", or "device" for a device named by its path.
QString journalName(qint32 port);
// A COM named on a command line as N=PATH (--com 1=/dev/ttyUSB0): N from 1 to 9 and a path that
// is not empty; nothing for any other form.
struct ComAssignment
{
    int port = 0;
    QString path;
};
std::optional<ComAssignment> readComAssignment(const QString &text);
// What a program says when --com N=PATH is not in that form; %1 is what was given.
inline constexpr char kComAssignmentForm[] = "--com takes N=PATH with N from 1 to 9, e.g. --com 1=/dev/ttyUSB0 (got '%1')";

// The TCP port: the one set, else PLENKO_TCP_PORT when it names a port, else 10001.
quint16 tcpPort();
// Why PLENKO_TCP_PORT cannot be used ("PLENKO_TCP_PORT='http' is not a port number ..."); empty
// when it is not set or names a port from 1 to 65535. A program refuses to start on it rather
// than quietly use another port.
QString tcpPortEnvironmentError();
// 0 forgets the setting.
void setTcpPort(quint16 port);

// What to do when COMn's device is missing, in the words of the program the operator runs (the
// console names --list-ports and --com; another program its own options). %1 is the port number.
QString missingPortHint(qint32 port);
void setMissingPortHint(const QString &hintTemplate);

// Forgets every setting (for tests).
void reset();

} // namespace LinkEndpoints
