#pragma once

#include "core/transfer/download_job.h"

namespace tolvane::test {

// The code's own deadlines are minutes long, more than a test can wait for.

// For the worker against scripted peers: a stalled peer costs a test two seconds at most.
DownloadDeadlines shortDeadlines();

// For whole transfers against the simulator on loopback (routines, windows, command line): long
// enough never to fire on a loaded machine, short enough that a fault costs seconds, and no pause
// after completion.
DownloadDeadlines simulatorDeadlines();

} // namespace tolvane::test
