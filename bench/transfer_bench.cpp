// Worker throughput: one 16 MiB image per iteration to the in-process simulator on loopback.

#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

class CountingObserver : public tolvane::DownloadObserver {
public:
    void error(int code) override { lastError = code; }
    void stage(int) override {}
    void progress(int) override { ++progressCount; }
    int lastError = 0;
    long progressCount = 0;
};

void workerThroughput(benchmark::State& state)
{
    tolvane::sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    tolvane::sim::Simulator simulator(options);
    if (!simulator.start()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> payload(size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31);

    tolvane::DownloadJob job;
    job.typeCode = tolvane::TypeCode::ApplicationImage;
    job.targetAddress = "127.0.0.1";
    job.port = simulator.port();
    job.payload = payload.data();
    job.payloadSize = static_cast<std::int64_t>(size);
    job.deadlines.completionPause = std::chrono::milliseconds{0};

    CountingObserver observer;
    for (auto _ : state) {
        if (tolvane::DownloadWorker(job, observer).run() != 0) {
            state.SkipWithError("the transfer failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
    state.counters["chunks"] = benchmark::Counter(static_cast<double>(observer.progressCount),
                                                  benchmark::Counter::kAvgIterations);
}

BENCHMARK(workerThroughput)->Arg(16 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
