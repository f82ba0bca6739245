#include "BrindleVersion.h"
#include "Emulator.h"
#include "EmulatorOptions.h"
#include "InterruptWatcher.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    EmulatorOptions options;
    QString error;
    if (!parseEmulatorOptions(arguments, &options, &error)) {
        std::fprintf(stderr, "kestra-emu: %s\n", qPrintable(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(emulatorHelpText()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kestra-emu %s\nQt %s\n", BRINDLE_VERSION, qVersion());
        return 0;
    }

    // Drawing text needs the GUI side of Qt; without a display it draws offscreen.
    std::unique_ptr<QCoreApplication> app;
    if (!options.surfacePng.isEmpty()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Made before the emulator and so ended after it: a signal while it shuts down is still
    // taken, and the pseudo-terminal's link is removed.
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::interrupted, app.get(), &QCoreApplication::quit);

    Emulator emulator(options);
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "kestra-emu: %s\n", qPrintable(error));
        return emulator.startFailureStatus();
    }
    if (options.tcp) {
        const QHostAddress address = emulator.tcpAddress();
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(address.toString())
                                 : address.toString();
        std::printf("kestra-emu: tcp %s:%u\n", qPrintable(host), unsigned(emulator.tcpPort()));
    }
    if (!options.ptyPath.isEmpty())
        std::printf("kestra-emu: pty %s\n", qPrintable(emulator.ptyPath()));
    std::printf("kestra-emu: ready\n");
    std::fflush(stdout);

    const int status = app->exec();
    emulator.shutdown();
    return emulator.finish(status);
}
