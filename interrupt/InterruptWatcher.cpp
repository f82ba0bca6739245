#include "InterruptWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_writeFd = -1;

extern "C" void onSignal(int number)
{
    const int savedErrno = errno;
    const char byte = char(number);
    if (g_writeFd >= 0)
        [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptWatcher::drain);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    for (int number : kSignals)
        std::signal(number, SIG_DFL);
    g_writeFd = -1;
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void InterruptWatcher::drain()
{
    char bytes[16];
    ssize_t got = 0;
    int first = 0;
    while ((got = ::read(m_pipe[0], bytes, sizeof bytes)) > 0) {
        if (first == 0)
            first = bytes[0];
    }
    if (m_signal != 0 || first == 0)
        return;
    m_signal = first;
    emit interrupted();
}
