#include "app/cli/TStopSignal.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

namespace kavrel {

namespace {

int g_signalFd = -1;

void OnStopSignal(int)
{
    if (g_signalFd >= 0) {
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_signalFd, &byte, 1);
        errno = saved;
    }
}

} // namespace

TStopSignal::TStopSignal()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
        throw std::runtime_error(std::string("cannot watch for Ctrl+C: ") + std::strerror(errno));
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    g_signalFd = m_fds[0];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
    sigaction(SIGHUP, &action, &m_oldHup);
}

TStopSignal::~TStopSignal()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    sigaction(SIGHUP, &m_oldHup, nullptr);
    g_signalFd = -1;
    m_notifier.reset();
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void TStopSignal::Drain()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(m_fds[1], &byte, 1);
}

} // namespace kavrel
