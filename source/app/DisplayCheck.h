#pragma once

#include <QString>
#include <QStringList>

// Whether the window has anywhere to go. Without a display Qt stops the program with an abort (a
// core dump's status, 134) after a page of plug-in messages; the console says so in one line and
// ends with ConsoleExit::NoDisplay instead. A platform named with -platform or QT_QPA_PLATFORM
// other than xcb or wayland (offscreen, minimal, vnc, eglfs, ...) needs no display variable.
//
// Returns the line for standard error, empty when a display is there (or not needed).
QString missingDisplay(const QStringList &arguments);
