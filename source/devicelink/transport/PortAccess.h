#pragma once

#include <QString>

// Whether this user may open a device file, and when not, what to do about it.
struct PortAccess
{
    bool exists = false;
    bool mayOpen = false;  // read and write allowed
    QString group;         // the group that owns the device
    bool inGroup = false;  // this process runs with that group (a user added since needs a new login)
    QString notATerminal;  // why the path is no serial port ("a directory"); empty for a terminal
};

PortAccess checkPortAccess(const QString &path);

// "The device belongs to group dialout, ..." with the command that joins it; empty when the
// access is not a matter of a group.
QString joinGroupHint(const PortAccess &access);
