#include "service/batch_threads.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvane::service {

void runOnThreads(std::size_t count, int jobs, const std::function<void(std::size_t)>& runUnit,
                  std::stop_token stop)
{
    if (count == 0)
        return;
    const std::size_t threads = std::min(count, static_cast<std::size_t>(std::max(jobs, 1)));
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count && !stop.stop_requested(); i = next++)
            runUnit(i);
    };
    std::vector<std::jthread> pool;
    pool.reserve(threads - 1);
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads: the ones running take the remaining units
        }
    }
    work();
}

} // namespace tolvane::service
