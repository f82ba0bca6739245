#include "DisplayCheck.h"

namespace {

// The platform plug-in asked for: the last -platform on the command line, else QT_QPA_PLATFORM.
QString requestedPlatform(const QStringList &arguments)
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == u"-platform" || arguments[i] == u"--platform")
            platform = arguments[i + 1];
    }
    // "xcb:option=value;wayland": the first entry is tried first, and the others only after it.
    return platform.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 0, 0).trimmed();
}

} // namespace

QString missingDisplay(const QStringList &arguments)
{
    const QString platform = requestedPlatform(arguments);
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool needsDisplay = platform.isEmpty() || platform == u"xcb" || platform.startsWith(u"wayland");
    if (!needsDisplay || (platform.isEmpty() && (x11 || wayland)) || (platform == u"xcb" && x11) ||
        (platform.startsWith(u"wayland") && wayland))
        return {};
    const QString unset = platform == u"xcb"                ? QStringLiteral("DISPLAY is not set")
                          : platform.startsWith(u"wayland") ? QStringLiteral("WAYLAND_DISPLAY is not set")
                                                            : QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    return QStringLiteral("brindle: no display to show the window on (%1): start it in a desktop session, or "
                          "over ssh with \"ssh -X\"; brindle --list-ports and --help need none\n")
        .arg(unset);
}
