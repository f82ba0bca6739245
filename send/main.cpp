// kestra-send: the card link without a window, for scripts, production lines and CI.

#include "SendProgram.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher rather than GLib's: nothing here needs GLib's main loop, and
    // GLib's costs several extra system calls (wake-ups, locks) for every turn of the loop, that
    // is for every command of a batch. QT_NO_GLIB=0 in the environment keeps GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // A reader of standard output that goes away ("kestra-send ... | head -2") shows as EPIPE where
    // the results are written (ResultStream), which stops the run and closes the link, rather than
    // as SIGPIPE, which would end the program with its link open and the serial port's lock left
    // behind. The exit status says it all the same (141).
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    return runSend(app.arguments());
}
