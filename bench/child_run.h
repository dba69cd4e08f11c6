#pragma once

// A piece of a benchmark run in a forked child process, so the peak memory it reports is that
// piece's alone.

#include <functional>

namespace tolvane::bench {

struct ChildRun {
    double value = -1; // what the work gave; negative when it failed
    double peakMiB = 0;
    double cpuSeconds = 0; // user and system time of the child
};

// Runs work in a child: its value comes back through a pipe, its peak memory and CPU time from
// wait4.
ChildRun runInChild(const std::function<double()>& work);

} // namespace tolvane::bench
