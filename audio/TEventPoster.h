#pragma once

#include <functional>

namespace kavrel {

// Posts work to the UI thread's event loop, like posting a message to a window: the task runs
// later from the loop, never inside the call that posted it.
class TEventPoster {
public:
    virtual ~TEventPoster() = default;

    // Queues task; tasks run in the order they were posted. UI thread only.
    virtual void Post(std::function<void()> task) = 0;
};

} // namespace kavrel
