#pragma once

#include <QStringList>

// The whole of kestra-send behind main(): reads the command line and the script, opens the
// journal and the link, sends, prints, and returns the exit status (SendExit). Needs a
// QCoreApplication.
int runSend(const QStringList &arguments);
