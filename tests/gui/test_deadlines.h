#pragma once

#include "core/transfer/download_job.h"

#include <chrono>

namespace tolvane::test {

// Deadlines for window tests against the simulator on loopback: long enough never to fire on a
// loaded machine, short enough that a fault costs seconds, and no pause after completion.
inline DownloadDeadlines windowTestDeadlines()
{
    using namespace std::chrono_literals;
    DownloadDeadlines d;
    d.connect = 5s;
    d.reply = 5s;
    d.sendStall = 5s;
    d.writeMinimum = 5s;
    d.writePerMiB = 1s;
    d.completionPause = 0ms;
    return d;
}

} // namespace tolvane::test
