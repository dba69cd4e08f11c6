#pragma once

#include <cstddef>
#include <functional>
#include <stop_token>

namespace tolvane::service {

// Calls runUnit(i) for i in [0, count) on at most `jobs` threads (the caller's among them), handing
// out the units in order, and returns when all that started have ended. Once stop is requested no
// unit starts; those running finish. runUnit must not throw.
void runOnThreads(std::size_t count, int jobs, const std::function<void(std::size_t)>& runUnit,
                  std::stop_token stop = {});

} // namespace tolvane::service
