// Program start: the command line, then the application object and the main window. The
// window's load does the start-up; its close ends the program.

#include "ConsoleApplication.h"
#include "ConsoleOptions.h"
#include "BoldTextStyle.h"
#include "DisplayCheck.h"
#include "Fonts.h"
#include "control/LinkJournal.h"
#include "control/Plenko.h"
#include "transport/LinkEndpoints.h"
#include "transport/PortListing.h"
#include "frmMain.h"

#include <QStringList>

#include <cstdio>
#include <memory>

namespace {

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ConsoleOptions options = parseConsoleOptions(arguments);
    // Where the links go, for the control, the port listing and the address dialog alike.
    LinkEndpoints endpoints;
    switch (options.action) {
    case ConsoleOptions::Action::Help:
    case ConsoleOptions::Action::Version:
        print(stdout, options.text);
        return ConsoleExit::Closed;
    case ConsoleOptions::Action::UsageError:
        print(stderr, options.text);
        return ConsoleExit::Usage;
    case ConsoleOptions::Action::ListPorts:
        applyConsoleOptions(options, endpoints);
        print(stdout, serialPortListing(endpoints));
        return ConsoleExit::Closed;
    case ConsoleOptions::Action::Run:
        break;
    }
    applyConsoleOptions(options, endpoints);
    if (const QString wrongPort = LinkEndpoints::tcpPortEnvironmentError(); !wrongPort.isEmpty() && options.tcpPort == 0) {
        print(stderr, QStringLiteral("brindle: %1\n").arg(wrongPort));
        return ConsoleExit::Usage;
    }
    // Opened before the window, so that a journal that cannot be written stops the start.
    LinkJournal journal;
    if (!options.journalPath.isEmpty()) {
        QString reason;
        if (!journal.open(options.journalPath, &reason)) {
            print(stderr, QStringLiteral("brindle: cannot write the journal %1: %2\n").arg(options.journalPath, reason));
            return ConsoleExit::Usage;
        }
        journal.setRedacting(options.journalRedact);
    }
    if (const QString noDisplay = missingDisplay(arguments); !noDisplay.isEmpty()) {
        print(stderr, noDisplay);
        return ConsoleExit::NoDisplay;
    }

    // Diagnostics name their category, so that the operator can see what QT_LOGGING_RULES switches.
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));

    ConsoleApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brindle.Brindle"));
    installFontSubstitutions();
    installBoldTextStyle();
    auto control = std::make_unique<Plenko>(endpoints);
    if (journal.isOpen())
        control->setJournal(&journal);
    frmMain window(std::move(control));
    window.addressDialog().setEndpoints(endpoints);
    if (journal.isOpen())
        window.setJournal(&journal);
    window.show();
    return app.exec();
}
