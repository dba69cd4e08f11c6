// How fast the simulator takes a payload in: 256 MiB from a plain blocking sender on loopback,
// write time 0, payload not kept (as tolvane-sim runs). The median of several runs beside the goal.

#include "bench_support.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

using namespace tolvane::bench;
using Clock = std::chrono::steady_clock;

constexpr std::size_t PayloadSize = 256u << 20;
constexpr int Runs = 5;

} // namespace

int main()
{
    tolvane::sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.writeTime = std::chrono::milliseconds{0};
    options.keepPayload = false;
    tolvane::sim::Simulator simulator(options);
    if (const auto started = simulator.start(); !started) {
        std::fprintf(stderr, "simulator_bench: the simulator did not start: %s\n",
                     started.failure().text().c_str());
        return 1;
    }

    const std::vector<std::uint8_t> payload = patternPayload(PayloadSize);

    std::vector<double> seconds;
    for (int run = 0; run < Runs; ++run) {
        const double s = plainImageTransfer(simulator.port(), payload, PlainChunks::Whole);
        if (s < 0 || !simulator.waitForTransfers(static_cast<std::size_t>(run) + 1,
                                                 std::chrono::seconds{30})) {
            std::fprintf(stderr, "simulator_bench: transfer %d failed\n", run + 1);
            return 1;
        }
        const auto received = simulator.transfers().back();
        if (received.outcome != "ok" || received.payloadSize != PayloadSize ||
            !received.payload.empty()) {
            std::fprintf(stderr, "simulator_bench: transfer %d ended '%s' after %llu bytes\n",
                         run + 1, received.outcome.c_str(),
                         static_cast<unsigned long long>(received.payloadSize));
            return 1;
        }
        seconds.push_back(s);
    }
    std::printf("%-40s %10s %10s\n", "simulator receiving (loopback)", "GB/s", "goal GB/s");
    std::printf("%-40s %10.2f %10s\n", "256 MiB, write time 0, not kept",
                static_cast<double>(PayloadSize) / median(seconds) / 1e9, ">= 1");
    return 0;
}
