#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

class Plenko;

// What the soak saw of one command.
struct CommandRecord
{
    quint8 code = 0;
    qint16 sendResult = 0;   // SendCommand's result (0: accepted)
    qint16 errorCode = -1;
    quint8 responseCode = 0;
    qint64 answerNumber = -1; // the frame number at the head of the response data, -1: none
    qint16 answerCode = -1;   // the command code at the head of the response data
    qint32 elapsedMs = 0;
};

struct SoakSettings
{
    bool pty = false;
    int commands = 2000;
    int timeoutMs = 100;
};

// The figures of the run besides the records.
struct RunFigures
{
    int reconnections = 0;
    int reconnectRetries = 0;   // OpenLink attempts beyond the first
    int reconnectFailures = 0;  // reconnections that did not succeed at all
    double waitCpuSeconds = 0;  // CPU time of this process during commands that timed out
    double waitWallSeconds = 0; // their wall time
    qint64 rssAfterWarmUp = 0;  // resident memory after a tenth of the commands
    qint64 rssAtEnd = 0;
    double wallSeconds = 0;
};

// Drives the real card control through the commands over one link, as the console does: send,
// wait in the event loop until CommStatus leaves 3, read the outcome; after a lost link StopLink,
// CloseLink, OpenLink, StartLink.
class SoakRun
{
public:
    explicit SoakRun(SoakSettings settings) : m_settings(settings) {}

    // False with a reason when the first link could not be opened.
    bool run(Plenko &control, std::vector<CommandRecord> &records, RunFigures &figures, QString *error);

    // The command code that command index uses (a mixture of what the device knows and does not).
    static quint8 codeFor(qint64 index);

private:
    bool openLink(Plenko &control);
    bool reconnect(Plenko &control, RunFigures &figures);

    SoakSettings m_settings;
};
