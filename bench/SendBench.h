#pragma once

#include "Report.h"

#include <QByteArray>
#include <QString>

namespace bench {

struct SendBenchSetup
{
    QString emulator;  // kestra-emu
    QString send;      // kestra-send
    QString rawClient; // bench-rawclient
    QString python;    // python3
    QString pyClient;  // pyclient.py
    QByteArray stripe;
    bool quick = false;
};

struct SendBenchResult
{
    QList<Row> rows;
    QString details; // markdown
};

// kestra-send against the plain C++ client and the Python client: a batch of commands from one
// script run, per command, and the time from the start of the program to its first byte on the wire.
SendBenchResult measureSend(const SendBenchSetup &setup);

} // namespace bench
