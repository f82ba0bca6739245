// kestra-send: the card link without a window, for scripts, production lines and CI.

#include "SendProgram.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher rather than GLib's: nothing here needs GLib's main loop, and
    // GLib's costs several extra system calls (wake-ups, locks) for every turn of the loop, that
    // is for every command of a batch. QT_NO_GLIB=0 in the environment keeps GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    return runSend(app.arguments());
}
