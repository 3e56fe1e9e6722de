#pragma once

#include <QSocketNotifier>

#include <csignal>
#include <memory>

namespace kavrel {

// Ctrl+C, SIGTERM and SIGHUP (a kill from a terminal, a logout) reach the event loop: the
// handler only writes a byte to a socket pair, and Notifier() fires on the UI thread, where the
// program ends as it would on its own. The previous handlers come back when this goes. One
// object at a time.
class TStopSignal {
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;

    // Activated once per signal; call Drain() in its slot.
    QSocketNotifier& Notifier() { return *m_notifier; }
    void Drain();

private:
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldHup {};
};

} // namespace kavrel
