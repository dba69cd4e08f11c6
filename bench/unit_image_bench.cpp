// A 64 MiB image to 8 simulators at once on loopback, once as the integrated image (each unit's
// MAC and serial number put in on the way) and once as the application image (sent as it is):
// the private dirty memory the process holds per unit while the recorders write (read from
// /proc/self/smaps_rollup), and the time from the routine's start to the image's payload
// starting. Every image the simulators receive is checked against a digest worked out here.

#include "core/base/sha256_digest.h"
#include "core/download/download_routines.h"
#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tolvane;
using Clock = std::chrono::steady_clock;
using Layout = test::FirmwareImageBuilder::Layout;

constexpr int Units = 8;
constexpr int Rounds = 8; // after one that warms up
constexpr std::size_t ImageSize = 64u << 20;
constexpr std::chrono::milliseconds WriteTime{400};

// Memory in use: what the allocator holds freed is returned first.
long privateDirtyKiB()
{
    ::malloc_trim(0);
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string key;
    long value = 0;
    while (rollup >> key) {
        if (key == "Private_Dirty:" && rollup >> value)
            return value;
        rollup.ignore(1 << 20, '\n');
    }
    return -1;
}

// Runs every transfer with the real worker; notes when the image's payload starts and tells the
// bench when the recorder has the whole image.
class UnitOperator final : public DownloadOperator, private DownloadObserver {
public:
    explicit UnitOperator(std::atomic<int>& writing) : m_writing(writing) {}

    void showMessage(MessageId id) override { messages.push_back(id); }
    TransferResult runTransfer(const DownloadJob& job) override
    {
        m_image = !isCompatibilityCheck(job.typeCode);
        DownloadJob fast = job;
        fast.deadlines.completionPause = std::chrono::milliseconds{0};
        return DownloadWorker(fast, *this).run() == 0 ? TransferResult::Ok : TransferResult::Cancel;
    }

    std::vector<MessageId> messages;
    Clock::time_point payloadStart;

private:
    void error(int) override {}
    void stage(int stage) override
    {
        if (m_image && stage == 2)
            payloadStart = Clock::now();
        if (m_image && stage == 4)
            ++m_writing;
    }
    void progress(int) override {}

    std::atomic<int>& m_writing;
    bool m_image = false;
};

UnitIdentity unitIdentity(int unit)
{
    char mac[13];
    std::snprintf(mac, sizeof mac, "0012AB34CD%02X", 0x50 + unit);
    return {mac, static_cast<std::uint32_t>(unit + 1), true, true, false};
}

// The image as unit `unit` must receive it, worked out byte by byte from unitIdentity.
std::string expectedDigest(std::vector<std::uint8_t> image, bool integrated, int unit)
{
    if (integrated) {
        const std::uint8_t area[12] = {
            0xAB, 0x12, 0x00, 0x00, static_cast<std::uint8_t>(0x50 + unit), 0xCD, 0x34,
            0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(unit + 1)};
        std::copy(area, area + 12, image.begin() + 0xFF80);
    }
    Sha256Digest digest;
    digest.update(image.data(), image.size());
    const auto hex = digest.finishHex();
    return hex ? *hex : std::string();
}

struct RoundFigures {
    double kibPerUnit = 0;
    std::vector<double> startMs; // per unit
    bool ok = true;
};

RoundFigures runRound(const std::string& path, bool integrated,
                      const std::vector<std::string>& digests)
{
    std::vector<std::unique_ptr<sim::Simulator>> recorders;
    for (int unit = 0; unit < Units; ++unit) {
        sim::SimulatorOptions options;
        options.port = 0;
        options.writeTime = WriteTime;
        recorders.push_back(std::make_unique<sim::Simulator>(options));
        if (!recorders.back()->start())
            return {0, {}, false};
    }
    std::atomic<int> writing{0};
    std::vector<std::unique_ptr<UnitOperator>> operators;
    std::vector<Clock::time_point> started(Units);
    const long before = privateDirtyKiB();
    std::vector<std::thread> units;
    for (int unit = 0; unit < Units; ++unit) {
        operators.push_back(std::make_unique<UnitOperator>(writing));
        units.emplace_back([&, unit] {
            const DownloadTarget target{"127.0.0.1", recorders[unit]->port()};
            started[unit] = Clock::now();
            if (integrated)
                downloadIntegratedImage(*operators[unit], path, target, unitIdentity(unit));
            else
                downloadApplicationImage(*operators[unit], path, target);
        });
    }
    // Half-way: every recorder holds its image and is writing it.
    const auto giveUp = Clock::now() + std::chrono::seconds{60};
    while (writing.load() < Units && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    RoundFigures figures;
    figures.kibPerUnit = static_cast<double>(privateDirtyKiB() - before) / Units;
    for (std::thread& unit : units)
        unit.join();
    for (int unit = 0; unit < Units; ++unit) {
        // A recorder notes a transfer once the tool has hung up.
        recorders[unit]->waitForTransfers(2, std::chrono::seconds{10});
        const auto received = recorders[unit]->transfers();
        figures.ok = figures.ok && writing.load() == Units && operators[unit]->messages.empty() &&
                     received.size() == 2 && received[1].outcome == "ok" &&
                     received[1].payloadSha256 == digests[unit];
        figures.startMs.push_back(
            std::chrono::duration<double, std::milli>(operators[unit]->payloadStart - started[unit])
                .count());
    }
    return figures;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Figures {
    std::string path;
    bool integrated = false;
    std::vector<std::string> digests;
    std::vector<double> kibPerUnit;
    std::vector<double> startMs;
};

Figures imageUnder(const std::string& path, bool integrated)
{
    std::vector<std::uint8_t> image(ImageSize);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(image.data()), ImageSize);
    Figures figures{path, integrated, {}, {}, {}};
    for (int unit = 0; unit < Units; ++unit)
        figures.digests.push_back(expectedDigest(image, integrated, unit));
    return figures;
}

// Rounds of both kinds in turn, so a change in the machine's load falls on both alike.
bool measure(Figures& application, Figures& integrated)
{
    for (int round = 0; round <= Rounds; ++round) {
        // Each kind first in every other round, so neither always meets a warmer machine.
        Figures* first = round % 2 == 0 ? &application : &integrated;
        Figures* second = first == &application ? &integrated : &application;
        for (Figures* figures : {first, second}) {
            const RoundFigures one = runRound(figures->path, figures->integrated, figures->digests);
            if (!one.ok)
                return false;
            if (round == 0)
                continue;
            figures->kibPerUnit.push_back(one.kibPerUnit);
            figures->startMs.push_back(median(one.startMs));
        }
    }
    return true;
}

} // namespace

int main()
{
    test::TempDir folder;
    const std::string application = folder.file("application.bin");
    const std::string integrated = folder.file("integrated.bin");
    test::FirmwareImageBuilder(Layout::ApplicationOnly)
        .version("3.5.1")
        .totalSize(ImageSize)
        .writeTo(application);
    test::FirmwareImageBuilder(Layout::Integrated)
        .version("3.5.1")
        .totalSize(ImageSize)
        .writeTo(integrated);

    Figures app = imageUnder(application, false);
    Figures unit = imageUnder(integrated, true);
    if (!measure(app, unit)) {
        std::fprintf(stderr, "unit_image_bench: a transfer failed or an image arrived wrong\n");
        return 1;
    }
    std::printf("%-44s %12s %12s %16s\n", "64 MiB image to 8 simulators at once", "application",
                "integrated", "goal");
    std::printf("%-44s %12.0f %12.0f %16s\n", "private dirty per unit, recorders writing (KiB)",
                median(app.kibPerUnit), median(unit.kibPerUnit), "< app + 1024");
    std::printf("%-44s %12.2f %12.2f %16s\n", "routine start to payload start (ms)",
                median(app.startMs), median(unit.startMs), "<= app + 5");
    return 0;
}
