// MAC check plus reservation against a production record that already holds many units, side by
// side with an empty record. Each case runs in a child process of its own so its peak memory is
// its own. Usage: record_bench [UNITS] (default 1000000).

#include "child_run.h"
#include "record/production_record.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace tolvane::record;
using Clock = std::chrono::steady_clock;

constexpr int Reservations = 200;

std::string macText(std::uint64_t value)
{
    char text[13];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value));
    return text;
}

RecordEntry row(std::uint64_t mac, const char* result, const std::string& unit)
{
    RecordEntry entry;
    entry.time = std::chrono::system_clock::now();
    entry.target = "127.0.0.1:5000";
    entry.type = "data";
    entry.mac = macText(mac);
    entry.unit = unit;
    entry.result = result;
    return entry;
}

// Fills a record with units that each succeeded with a MAC of their own.
bool fill(const std::string& path, std::uint64_t units)
{
    auto opened = openProductionRecord(path);
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().text().c_str());
        return false;
    }
    ProductionRecord& record = **opened;
    constexpr std::uint64_t Batch = 50'000;
    for (std::uint64_t start = 0; start < units; start += Batch) {
        std::vector<RecordEntry> rows;
        for (std::uint64_t i = start; i < std::min(units, start + Batch); ++i)
            rows.push_back(row(0x0012AB000000 + i, ResultOk, "fill" + std::to_string(i)));
        if (const auto imported = record.importRows(rows); !imported) {
            std::fprintf(stderr, "%s\n", imported.failure().text().c_str());
            return false;
        }
    }
    return true;
}

// In a child: opens the record and reserves fresh MACs; the mean time per reservation, and the
// child's peak memory.
void measure(const std::string& path, const char* label)
{
    const auto run = tolvane::bench::runInChild([&path] {
        auto record = openProductionRecord(path);
        if (!record)
            return -1.0;
        const auto started = Clock::now();
        for (int i = 0; i < Reservations; ++i) {
            const auto reservation = (*record)->reserve(
                row(0x00AA00000000 + static_cast<std::uint64_t>(i) + ::getpid() * 1000ull,
                    ResultPending, "bench" + std::to_string(i)),
                {});
            if (reservation.status != Reservation::Status::Reserved)
                return -1.0;
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - started).count() /
               Reservations;
    });
    std::printf("%-28s %12.3f %14.1f\n", label, run.value, run.peakMiB);
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t units = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tolvane-record-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string empty = (folder / "empty.db").string();
    const std::string full = (folder / "full.db").string();

    const auto started = Clock::now();
    if (!fill(empty, 0) || !fill(full, units))
        return 1;
    std::printf("filled %llu units in %.1f s\n\n", static_cast<unsigned long long>(units),
                std::chrono::duration<double>(Clock::now() - started).count());
    std::printf("%-28s %12s %14s\n", "record", "reserve ms", "peak RSS MiB");
    measure(empty, "empty");
    measure(full, (std::to_string(units) + " units").c_str());
    std::filesystem::remove_all(folder);
    return 0;
}
