#include "core/transfer/transfer_clock.h"

#include <climits>
#include <thread>

namespace tolvane {

namespace {

// Milliseconds left until the deadline for poll, rounded up so a wait never spins at 0 before
// the deadline, and clamped to poll's int.
int pollTimeout(SteadyClock::time_point deadline)
{
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

class SystemClock final : public TransferClock {
public:
    SteadyClock::time_point now() override { return SteadyClock::now(); }
    int poll(pollfd& entry, SteadyClock::time_point deadline) override
    {
        return ::poll(&entry, 1, pollTimeout(deadline));
    }
    void sleepFor(std::chrono::milliseconds pause) override { std::this_thread::sleep_for(pause); }
};

} // namespace

TransferClock& systemClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace tolvane
