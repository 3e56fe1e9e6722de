#include "audio/testing/TManualEventQueue.h"

#include <utility>

namespace kavrel {

void TManualEventQueue::Post(std::function<void()> task)
{
    m_tasks.push_back(std::move(task));
}

bool TManualEventQueue::RunOne()
{
    if (m_tasks.empty()) {
        return false;
    }
    auto task = std::move(m_tasks.front());
    m_tasks.pop_front();
    if (task) {
        task();
    }
    return true;
}

std::size_t TManualEventQueue::RunAll(std::size_t limit)
{
    std::size_t ran = 0;
    while (ran < limit && RunOne()) {
        ++ran;
    }
    return ran;
}

} // namespace kavrel
