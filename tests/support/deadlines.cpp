#include "support/deadlines.h"

#include <chrono>

namespace tolvane::test {

namespace {

using namespace std::chrono_literals;

// One limit for connecting, each reply, a stalled send and the least time to write.
DownloadDeadlines uniformDeadlines(std::chrono::milliseconds each,
                                   std::chrono::milliseconds writePerMiB,
                                   std::chrono::milliseconds completionPause)
{
    DownloadDeadlines deadlines;
    deadlines.connect = each;
    deadlines.reply = each;
    deadlines.sendStall = each;
    deadlines.writeMinimum = each;
    deadlines.writePerMiB = writePerMiB;
    deadlines.completionPause = completionPause;
    return deadlines;
}

} // namespace

DownloadDeadlines shortDeadlines()
{
    return uniformDeadlines(2000ms, 100ms, 10ms);
}

DownloadDeadlines simulatorDeadlines()
{
    return uniformDeadlines(5s, 1s, 0ms);
}

} // namespace tolvane::test
