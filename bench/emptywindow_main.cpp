// bench-emptywindow [WIDTH HEIGHT]: the smallest Qt Widgets program with a window, the yardstick
// for the console's start-up and memory: an application object and a plain QWidget of the given
// size (the console's), measured like the console (see ExposeProbe.h). It links Qt Widgets and
// nothing else of the project.

#include "ExposeProbe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int width = args.size() > 2 ? args[1].toInt() : 602;
    const int height = args.size() > 2 ? args[2].toInt() : 414;
    ExposeProbe probe("empty");
    app.installEventFilter(&probe);
    QWidget window;
    window.setFixedSize(qMax(1, width), qMax(1, height));
    probe.window = &window;
    window.show();
    return app.exec();
}
