#pragma once

#include <QString>
#include <optional>

// Who holds a serial port that another program has open: the process that keeps an exclusive
// lock on the device (flock, as this program takes one), or the process named in Qt's lock file
// for the port name. Either may be unknown: another program may lock nothing, and a process in
// another PID namespace shows no number here.
struct PortHolder
{
    qint64 pid = 0;  // 0: not known
    QString program; // "kestra-send"; empty when not known
};

// The process holding an flock on the device file behind path (any name of it: a link leads to the
// same device), from /proc/locks; ownPid is left out.
PortHolder deviceLockHolder(const QString &path, qint64 ownPid);

// The process named in Qt's lock file for the port (LCK..ttyUSB0 in the lock directory Qt uses);
// nothing when there is no such file or the process it names has gone.
std::optional<PortHolder> lockFileHolder(const QString &path);

// "the port is in use by another program, kestra-send (process 4242); close it, or wait until it
// has finished": the text a busy port's refusal gives the operator.
QString portBusyText(const PortHolder &holder);
