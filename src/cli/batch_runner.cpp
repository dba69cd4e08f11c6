#include "cli/batch_runner.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvane::cli {

void runBatch(std::size_t count, int jobs, const std::function<void(std::size_t)>& runUnit)
{
    if (count == 0)
        return;
    const std::size_t threads = std::min(count, static_cast<std::size_t>(std::max(jobs, 1)));
    if (threads == 1) {
        for (std::size_t i = 0; i < count; ++i)
            runUnit(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++)
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

} // namespace tolvane::cli
