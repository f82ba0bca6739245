#pragma once

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

// Start-up to the first exposed and painted window, for bench-startup and bench-emptywindow.
//
// The driver records CLOCK_MONOTONIC just before it spawns the program and passes it in
// BENCH_T0_NS. The probe, installed on the application, notices the first expose of the window
// while it is really on screen and reports as soon as that expose has been handled (the window
// paints while handling it): one JSON line, then the program quits.
//   {"kind":"console","shown_ms":123.4,"width":602,"height":436}
// Peak memory is taken from outside, by the driver's wait4().
class ExposeProbe : public QObject
{
public:
    explicit ExposeProbe(const char *kind) : m_kind(kind)
    {
        bool ok = false;
        const qint64 t0 = qEnvironmentVariable("BENCH_T0_NS").toLongLong(&ok);
        m_t0Ns = ok ? t0 : bench::monotonicNs();
    }

    QWidget *window = nullptr;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Expose && window && watched == window->windowHandle()
            && window->windowHandle()->isExposed()) {
            m_seen = true;
            QTimer::singleShot(0, this, &ExposeProbe::report);
        }
        return false;
    }

private:
    void report()
    {
        const double shownMs = double(bench::monotonicNs() - m_t0Ns) / 1e6;
        std::printf("{\"kind\":\"%s\",\"shown_ms\":%.3f,\"width\":%d,\"height\":%d}\n", m_kind, shownMs,
                    window->width(), window->height());
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    const char *m_kind;
    qint64 m_t0Ns = 0;
    bool m_seen = false;
};
