#pragma once

#include "window/CardCalls.h"

#include <QByteArray>
#include <QtGlobal>

// How a command that the control accepted ended, as the window and kestra-send report it.
struct CommandEnd
{
    qint32 errorCode = 0;
    qint32 responseCode = 0;
    QByteArray responseData;
    qint32 result = -1; // the console's result code (LinkMeaning::resultCode)
};

// Returns once the running command has ended. One pass over what is pending, also for a command
// that has already ended; after that it blocks until the next event instead of spinning. The
// control changes CommStatus only from inside event processing, so every change wakes the wait.
// Handlers that run meanwhile may start and finish commands of their own.
void waitForCommandEnd(CardCalls &calls);

// Reads how the last command ended. No events are processed here, so every value belongs to the
// same command.
CommandEnd readCommandEnd(CardCalls &calls);
