#pragma once

#include <chrono>

#include <poll.h>

namespace tolvane {

using SteadyClock = std::chrono::steady_clock;

// Where a transfer reads the time and waits for its socket: the steady clock and poll, unless a
// caller puts in its own (the download worker's fuzz target plays the recorder inside the waits
// on a time of its own, so no run waits for real).
class TransferClock {
public:
    virtual ~TransferClock() = default;
    virtual SteadyClock::time_point now() = 0;
    // poll(2) on one entry until the deadline: above 0 ready (revents set), 0 when the wait ended
    // without an event, below 0 failed with errno kept.
    virtual int poll(pollfd& entry, SteadyClock::time_point deadline) = 0;
    virtual void sleepFor(std::chrono::milliseconds pause) = 0;
};

// The steady clock, poll(2) and a real sleep.
TransferClock& systemClock();

} // namespace tolvane
