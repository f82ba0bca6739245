// kestra-send: the card link without a window, for scripts, production lines and CI.

#include "SendProgram.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return runSend(app.arguments());
}
