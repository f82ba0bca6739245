#pragma once

#include "window/CardCalls.h"
#include "window/CommandRunner.h"
#include "window/ConnectionLabels.h"
#include "window/ConnectionSettings.h"

#include <QByteArray>
#include <QTimer>
#include <functional>
#include <memory>

class frmMain;
class QString;

// The console as an operator runs it: the real main window with the real card control, shown
// (on the offscreen platform when nothing else is chosen), and the command runner working on
// that window's response boxes. The runner keeps nothing between calls, so a runner built here
// on the window's control and display takes exactly the window's own path.
class ConsoleHarness
{
public:
    ConsoleHarness();
    ~ConsoleHarness();
    ConsoleHarness(const ConsoleHarness &) = delete;
    ConsoleHarness &operator=(const ConsoleHarness &) = delete;

    // Shows the window and waits until the platform has exposed it. False after timeoutMs.
    bool showAndWaitExposed(int timeoutMs = 10000);

    frmMain &window() { return *m_window; }
    CardControl &control();
    CardCalls &calls() { return *m_calls; }
    CommandRunner &runner() { return *m_runner; }

    // The serial connection settings, over the window's connection labels and a timer of their
    // own (the window's Timer1 belongs to the window's own settings).
    ConnectionSettings &settings();

    // Opens and starts a network link to 127.0.0.1 (the port comes from PLENKO_TCP_PORT).
    bool connectLoopback();

    // The command through the runner; true when the result code is 0 and, when expectedData is
    // given, the response data equals it.
    bool run(qint32 code, const QByteArray &parameter, qint32 timeoutMs, bool dsr = false,
             const QByteArray *expectedData = nullptr);

    // Processes events (blocking between them) for ms milliseconds.
    static void idle(int ms);
    // Processes events (blocking between them) until done() or timeoutMs; returns done().
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs);

private:
    class WindowLabels;

    std::unique_ptr<frmMain> m_window;
    std::unique_ptr<CardCalls> m_calls;
    std::unique_ptr<CommandRunner> m_runner;
    std::unique_ptr<WindowLabels> m_labels;
    QTimer m_settleTimer;
    std::unique_ptr<ConnectionSettings> m_settings;
};

// Runs the console-side benchmark named by mode with the given arguments and prints its JSON
// result on stdout. Returns the process's exit status.
int runConsoleBench(const QString &mode, const QStringList &args);
