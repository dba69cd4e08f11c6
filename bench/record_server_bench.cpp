// MAC check plus reservation through the local socket of a throwaway PostgreSQL cluster: one bench
// against an empty record and against one that holds many units, then several benches (processes)
// reserving at once, distinct MACs and the same MACs. The server is durable (fsync on), as a real
// one is. Usage: record_server_bench [UNITS] [PER_PROCESS] (default 1000000 and 1000).

#include "record/production_record.h"
#include "support/postgres_cluster.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace tolvane::record;
using tolvane::test::PostgresCluster;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t FirstFilledMac = 0x0012AB000000;
constexpr int Benches = 8;

std::string macText(std::uint64_t value)
{
    char text[13];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value));
    return text;
}

struct Outcome {
    int reserved = 0;
    int used = 0;
    int failed = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

// Reads exactly size bytes, unless the writer ends first.
bool readAll(int fd, void* into, std::size_t size)
{
    auto* bytes = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// What a bench sends back: its counts by status, when it ended, then each reservation's time.
struct BenchReport {
    int counts[3] = {0, 0, 0};
    Clock::rep endedAt = 0;
};

// Starts `processes` benches that each open the record, wait at a gate, then reserve `count` MACs
// (macOf(process, i)) one after another; times them from the gate to the last one's end.
Outcome race(const std::string& location, int processes, int count,
             const std::function<std::uint64_t(int, int)>& macOf)
{
    int gate[2];
    if (::pipe(gate) != 0)
        std::exit(1);
    std::vector<pid_t> children;
    std::vector<int> results;
    for (int p = 0; p < processes; ++p) {
        int result[2];
        if (::pipe(result) != 0)
            std::exit(1);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(gate[1]);
            ::close(result[0]);
            auto opened = openProductionRecord(location);
            char go;
            if (!opened || ::read(gate[0], &go, 1) != 0) {
                std::fprintf(stderr, "%s\n", opened ? "" : opened.failure().text().c_str());
                ::_exit(1);
            }
            ProductionRecord& record = **opened;
            BenchReport report;
            std::vector<double> latencies;
            for (int i = 0; i < count; ++i) {
                RecordEntry pending;
                pending.time = std::chrono::system_clock::now();
                pending.target = "127.0.0.1:5000";
                pending.type = "data";
                pending.mac = macText(macOf(p, i));
                pending.unit = "bench-" + std::to_string(::getpid()) + "-" + std::to_string(i);
                pending.result = ResultPending;
                const auto started = Clock::now();
                const auto reservation = record.reserveMac(pending, false);
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - started).count());
                ++report.counts[static_cast<int>(reservation.status)];
                if (reservation.status == Reservation::Status::Failed)
                    std::fprintf(stderr, "%s\n", reservation.error.text().c_str());
            }
            report.endedAt = Clock::now().time_since_epoch().count();
            const auto bytes = static_cast<ssize_t>(latencies.size() * sizeof(double));
            if (::write(result[1], &report, sizeof report) != sizeof report ||
                ::write(result[1], latencies.data(), latencies.size() * sizeof(double)) != bytes)
                ::_exit(2);
            ::_exit(0);
        }
        ::close(result[1]);
        children.push_back(child);
        results.push_back(result[0]);
    }
    ::close(gate[0]);
    const auto started = Clock::now();
    ::close(gate[1]); // opens the gate
    Outcome outcome;
    Clock::rep lastEnd = started.time_since_epoch().count();
    for (const int result : results) {
        BenchReport report;
        std::vector<double> latencies(static_cast<std::size_t>(count));
        if (readAll(result, &report, sizeof report) &&
            readAll(result, latencies.data(), latencies.size() * sizeof(double))) {
            outcome.reserved += report.counts[0];
            outcome.used += report.counts[1];
            outcome.failed += report.counts[2];
            lastEnd = std::max(lastEnd, report.endedAt);
            outcome.latenciesMs.insert(outcome.latenciesMs.end(), latencies.begin(),
                                       latencies.end());
        } else {
            outcome.failed += count;
        }
        ::close(result);
    }
    for (const pid_t child : children)
        ::waitpid(child, nullptr, 0);
    outcome.seconds =
        std::chrono::duration<double>(Clock::duration(lastEnd) - started.time_since_epoch())
            .count();
    return outcome;
}

std::string scalar(PostgresCluster& cluster, const std::string& database, const std::string& sql)
{
    std::string error;
    const auto rows = cluster.query(database, sql, &error);
    if (!rows || rows->empty() || rows->front().empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    return rows->front().front().value_or("NULL");
}

// MACs held by more than one row: none, when the unique index does its work.
std::string duplicates(PostgresCluster& cluster, const std::string& database)
{
    return scalar(cluster, database,
                  "SELECT count(*) FROM (SELECT mac FROM units WHERE mac_in_use = 1 GROUP BY mac "
                  "HAVING count(*) > 1) AS twice");
}

void print(const char* label, int processes, const Outcome& outcome, const std::string& twice)
{
    auto latencies = outcome.latenciesMs;
    std::sort(latencies.begin(), latencies.end());
    double mean = 0;
    for (double latency : latencies)
        mean += latency / static_cast<double>(latencies.size());
    const double p99 = latencies.empty() ? 0 : latencies[latencies.size() * 99 / 100];
    const int attempts = outcome.reserved + outcome.used + outcome.failed;
    std::printf("%-30s %5d %8d %8d %6d %8.2f %10.0f %8.2f %8.2f %6s\n", label, processes, attempts,
                outcome.reserved, outcome.failed, outcome.seconds,
                outcome.reserved / outcome.seconds, mean, p99, twice.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t units = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const int perProcess = argc > 2 ? std::atoi(argv[2]) : 1000;
    std::string error;
    tolvane::test::PostgresClusterOptions options;
    options.durable = true;
    options.sharedBuffersMiB = 128; // the server's own default
    auto cluster = PostgresCluster::start(&error, options);
    if (!cluster) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto emptyDb = cluster->freshDatabase(&error);
    const auto fullDb = cluster->freshDatabase(&error);
    if (!emptyDb || !fullDb) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::string empty = cluster->location(*emptyDb);
    const std::string full = cluster->location(*fullDb);
    // The record creates its table; the server then fills it in one statement.
    for (const auto& location : {empty, full}) {
        if (const auto opened = openProductionRecord(location); !opened) {
            std::fprintf(stderr, "%s\n", opened.failure().text().c_str());
            return 1;
        }
    }
    const auto fillStarted = Clock::now();
    scalar(*cluster, *fullDb,
           "WITH filled AS (INSERT INTO units (time, target, type, mac, unit, result, message, "
           "duration_s, mac_in_use) SELECT '2026-12-08T06:00:00.000Z', '127.0.0.1:5000', 'data', "
           "lpad(upper(to_hex(" +
               std::to_string(FirstFilledMac) +
               " + i)), 12, '0'), 'fill' || i, 'ok', '', 1.0, 1 FROM generate_series(0, " +
               std::to_string(units) + " - 1) AS i RETURNING 1) SELECT count(*) FROM filled");
    scalar(*cluster, *fullDb, "ANALYZE units; SELECT 1");
    std::printf("PostgreSQL %s on a Unix socket, fsync on; filled %s units in %.1f s\n\n",
                scalar(*cluster, "postgres", "SHOW server_version").c_str(),
                scalar(*cluster, *fullDb, "SELECT count(*) FROM units").c_str(),
                std::chrono::duration<double>(Clock::now() - fillStarted).count());

    std::printf("%-30s %5s %8s %8s %6s %8s %10s %8s %8s %6s\n", "case", "procs", "attempts",
                "reserved", "failed", "seconds", "reserved/s", "mean ms", "p99 ms", "dups");
    // Fresh MACs above the filled ones; each case its own block.
    const auto block = [&](std::uint64_t n) { return FirstFilledMac + units + n * 0x100000; };
    const int single = perProcess;
    print("1 bench, empty record", 1,
          race(empty, 1, single, [&](int, int i) { return block(0) + i; }),
          duplicates(*cluster, *emptyDb));
    const std::string fullLabel = "1 bench, " + std::to_string(units) + " units";
    print(fullLabel.c_str(), 1, race(full, 1, single, [&](int, int i) { return block(1) + i; }),
          duplicates(*cluster, *fullDb));
    const auto distinct = race(full, Benches, perProcess, [&](int p, int i) {
        return block(2) + static_cast<std::uint64_t>(p) * perProcess + i;
    });
    print("8 benches, distinct MACs", Benches, distinct, duplicates(*cluster, *fullDb));
    const auto same = race(full, Benches, perProcess, [&](int, int i) { return block(3) + i; });
    print("8 benches, the same MACs", Benches, same, duplicates(*cluster, *fullDb));
    std::printf("\nthe same MACs: %s rows for %d MACs (one winner each, losers write nothing)\n",
                scalar(*cluster, *fullDb,
                       "SELECT count(*) FROM units WHERE mac >= '" + macText(block(3)) +
                           "' AND mac < '" + macText(block(4)) + "'")
                    .c_str(),
                perProcess);
    return 0;
}
