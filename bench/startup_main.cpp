// bench-startup console|empty [--size WxH]: start-up to the first exposed and painted window.
//
// "console" starts exactly as the brindle executable does (application object, font
// substitutions, the main window with its card control, show). "empty" is the smallest Qt
// Widgets program with a window: a plain QWidget of the given size. The driver records the
// monotonic clock just before it spawns this process and passes it in BENCH_T0_NS; the program
// prints one JSON line once the window has been exposed and its first paint is done, then quits:
//   {"kind":"console","shown_ms":123.4,"width":602,"height":436}
// Peak memory is taken from outside, by the driver's wait4().

#include "BenchSupport.h"
#include "ConsoleApplication.h"
#include "Fonts.h"
#include "Plenko.h"
#include "frmMain.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

// Notices the first expose of a window that is really on screen, then reports as soon as the
// expose has been handled (the window paints while handling it).
class ExposeProbe : public QObject
{
public:
    ExposeProbe(const char *kind, qint64 t0Ns) : m_kind(kind), m_t0Ns(t0Ns) {}
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
    qint64 m_t0Ns;
    bool m_seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    bool ok = false;
    const qint64 t0 = qEnvironmentVariable("BENCH_T0_NS").toLongLong(&ok);
    const qint64 start = ok ? t0 : bench::monotonicNs();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    const QByteArray kind = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (kind == "console") {
        ConsoleApplication app(argc, argv);
        installFontSubstitutions();
        ExposeProbe probe("console", start);
        app.installEventFilter(&probe);
        frmMain window(std::make_unique<Plenko>());
        probe.window = &window;
        window.show();
        return app.exec();
    }
    if (kind == "empty") {
        int width = 602, height = 414;
        if (argc > 3 && QByteArray(argv[2]) == "--size")
            std::sscanf(argv[3], "%dx%d", &width, &height);
        QApplication app(argc, argv);
        ExposeProbe probe("empty", start);
        app.installEventFilter(&probe);
        QWidget window;
        window.setFixedSize(width, height);
        probe.window = &window;
        window.show();
        return app.exec();
    }
    std::fprintf(stderr, "usage: bench-startup console|empty [--size WxH]\n");
    return 2;
}
