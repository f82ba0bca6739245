// Program start: the application object and the main window, nothing else. The window's load
// does the start-up; its close ends the program.

#include "ConsoleApplication.h"
#include "Fonts.h"
#include "Plenko.h"
#include "frmMain.h"

#include <memory>

int main(int argc, char *argv[])
{
    ConsoleApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brindle.Brindle"));
    installFontSubstitutions();
    frmMain window(std::make_unique<Plenko>());
    window.show();
    return app.exec();
}
