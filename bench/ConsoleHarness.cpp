#include "ConsoleHarness.h"

#include "control/Plenko.h"
#include "frmMain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QWindow>

// The window's three connection labels, found by their names.
class ConsoleHarness::WindowLabels : public ConnectionLabels
{
public:
    explicit WindowLabels(frmMain &window)
        : m_portNmae(label(window, "lbl_PortNmae")), m_port(label(window, "lbl_Port")), m_baud(label(window, "lbl_Baud"))
    {
    }
    void setPortNmaeText(const QString &text) override { m_portNmae->setText(text); }
    void setPortText(const QString &text) override { m_port->setText(text); }
    void setBaudText(const QString &text) override { m_baud->setText(text); }

private:
    static QLabel *label(frmMain &window, const char *name)
    {
        QLabel *found = window.findChild<QLabel *>(QLatin1String(name));
        if (!found)
            qFatal("the window has no label %s", name);
        return found;
    }

    QLabel *m_portNmae;
    QLabel *m_port;
    QLabel *m_baud;
};

ConsoleHarness::ConsoleHarness()
    : m_window(std::make_unique<frmMain>(std::make_unique<Plenko>()))
{
    m_calls = std::make_unique<CardCalls>(m_window->Plenko1());
    m_runner = std::make_unique<CommandRunner>(m_window->Plenko1(), *m_window);
    m_labels = std::make_unique<WindowLabels>(*m_window);
    // A message box would wait for a click that never comes.
    m_window->setMessageSink([](const QString &text) { qWarning("console message: %s", qPrintable(text)); });
}

ConsoleHarness::~ConsoleHarness() = default;

CardControl &ConsoleHarness::control()
{
    return m_window->Plenko1();
}

ConnectionSettings &ConsoleHarness::settings()
{
    if (!m_settings)
        m_settings = std::make_unique<ConnectionSettings>(m_window->Plenko1(), *m_labels, m_settleTimer);
    return *m_settings;
}

bool ConsoleHarness::showAndWaitExposed(int timeoutMs)
{
    m_window->show();
    return waitUntil([this] { return m_window->windowHandle() && m_window->windowHandle()->isExposed(); },
                     timeoutMs);
}

bool ConsoleHarness::connectLoopback()
{
    qint32 address = qint32(0x7F000001); // 127.0.0.1
    qint32 network = -1;
    if (m_calls->OpenLink(address, network, -1, -1) != 0)
        return false;
    return m_calls->StartLink(0) == 0;
}

bool ConsoleHarness::run(qint32 code, const QByteArray &parameter, qint32 timeoutMs, bool dsr,
                         const QByteArray *expectedData)
{
    qint32 responseCode = 0;
    QByteArray responseData;
    const qint32 result = m_runner->RunCommand(code, parameter, timeoutMs, dsr, responseCode, responseData);
    return result == CommandRunner::Completed && (!expectedData || responseData == *expectedData);
}

void ConsoleHarness::idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ConsoleHarness::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&expired] { expired = true; });
    guard.start(timeoutMs);
    QCoreApplication::processEvents();
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
