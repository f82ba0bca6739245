// bench-console MODE [options]: the console-side benchmarks (roundtrip, wait, serial, reconnect,
// soak) with the real window and card control. The driver (bench-all) starts the emulator and
// hands its port or pseudo-terminal over in PLENKO_TCP_PORT / PLENKO_COM<n>.

#include "ConsoleApplication.h"
#include "ConsoleHarness.h"
#include "Fonts.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ConsoleApplication app(argc, argv);
    // The default report is a message box, which nobody would ever close here.
    app.setUntrappedErrorReporter([](const QString &text) {
        std::fprintf(stderr, "bench-console: untrapped error: %s\n", qPrintable(text));
        std::fflush(stderr);
        ::_exit(1);
    });
    installFontSubstitutions();

    QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench-console roundtrip|wait|serial|reconnect|soak [options]\n");
        return 2;
    }
    const QString mode = args.takeAt(1);
    return runConsoleBench(mode, args);
}
