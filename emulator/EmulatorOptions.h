#pragma once

#include "Faults.h"
#include "JournalSessions.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct EmulatorOptions
{
    bool tcp = true;
    QHostAddress tcpHost = QHostAddress(QHostAddress::LocalHost);
    quint16 tcpPort = 10001;
    bool allowRemote = false;
    QString ptyPath;
    int reinsertMs = 2000;
    double timeScale = 1.0;
    int wireSpeed = 0; // bit/s on the pseudo-terminal, 0 = no pacing
    bool trace = false;
    QString traceFile;
    QString surfacePng;
    FaultPlan fault;
    FaultMix faultMix;
    bool answerIds = false;
    QString replayPath; // answer as the journal there says the recorded device did
    SessionChoice replayChoice; // --link, --session: which of its sessions
    bool help = false;
    bool version = false;
};

// Reads the command line (arguments without the program name). False with a message when an
// option is wrong; the message names the option. With -h or -v nothing else is checked.
bool parseEmulatorOptions(const QStringList &arguments, EmulatorOptions *options, QString *error);
QString emulatorHelpText();
