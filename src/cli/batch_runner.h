#pragma once

#include <cstddef>
#include <functional>

namespace tolvane::cli {

// Calls runUnit(i) for every i in [0, count) on at most `jobs` threads, handing out the units in
// order, and returns when all have ended. runUnit must not throw.
void runBatch(std::size_t count, int jobs, const std::function<void(std::size_t)>& runUnit);

} // namespace tolvane::cli
