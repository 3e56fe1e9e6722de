#pragma once

#include "audio/TEventPoster.h"

#include <cstddef>
#include <deque>
#include <functional>

namespace kavrel {

// An event loop for tests: posted tasks wait until the test runs them.
class TManualEventQueue : public TEventPoster {
public:
    void Post(std::function<void()> task) override;

    std::size_t Pending() const { return m_tasks.size(); }
    // Runs the oldest task; false if there was none.
    bool RunOne();
    // Runs tasks, including those posted meanwhile, until none is left or limit tasks have run;
    // returns how many ran.
    std::size_t RunAll(std::size_t limit = 1000000);

private:
    std::deque<std::function<void()>> m_tasks;
};

} // namespace kavrel
