// bench-startup: the console's start, exactly as the brindle executable does it (application
// object, font substitutions, the main window with its card control, show), measured to the
// first exposed and painted window (see ExposeProbe.h).

#include "ConsoleApplication.h"
#include "ExposeProbe.h"
#include "Fonts.h"
#include "control/Plenko.h"
#include "frmMain.h"

#include <memory>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ConsoleApplication app(argc, argv);
    installFontSubstitutions();
    ExposeProbe probe("console");
    app.installEventFilter(&probe);
    frmMain window(std::make_unique<Plenko>());
    probe.window = &window;
    window.show();
    return app.exec();
}
