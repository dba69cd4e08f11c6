// The production report over a record of many units, in an SQLite file and on a throwaway
// PostgreSQL cluster (a local socket): the figures counted by the database, then the page written
// as `record report --html` writes it. Each report runs in a child process of its own so its peak
// memory is its own. Usage: report_bench [UNITS] (default 1000000).

#include "child_run.h"
#include "core/base/atomic_file.h"
#include "record/production_record.h"
#include "report/report_page.h"
#include "support/postgres_cluster.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace tolvane::record;
using Clock = std::chrono::steady_clock;

constexpr double GoalSeconds = 2.0;
constexpr double GoalMiB = 64.0;

// Each unit's pending row, then its outcome: one in 50 failed, one in 97 unconfirmed, the rest
// ok; eight benches, ten units a second from 2026-12-08 06:00. SERIES, MAC and TIME are the
// database's own ways to count, write a MAC and a time.
const char* const FillRows = R"(
INSERT INTO units (time, target, type, mac, unit, result, message, duration_s, bench, mac_in_use)
SELECT TIME, '127.0.0.1:5000', 'data', MAC, 'u' || i, 'pending', '', 0, 'bench-' || (i % 8), 0
FROM SERIES;
INSERT INTO units (time, target, type, mac, unit, result, message, duration_s, bench, mac_in_use)
SELECT TIME, '127.0.0.1:5000', 'data', MAC, 'u' || i,
    CASE WHEN i % 50 = 0 THEN 'failed' WHEN i % 97 = 0 THEN 'unconfirmed' ELSE 'ok' END,
    CASE WHEN i % 50 = 0 THEN 'Can''t connect' WHEN i % 97 = 0 THEN 'No acknowledgement'
        ELSE '' END,
    20 + i % 7, 'bench-' || (i % 8), CASE WHEN i % 50 = 0 THEN 0 ELSE 1 END
FROM SERIES;
)";

std::string fillScript(bool sqlite, std::uint64_t units)
{
    const std::string last = std::to_string(units - 1);
    std::string script = FillRows;
    const auto replace = [&script](const std::string& word, const std::string& by) {
        for (auto at = script.find(word); at != std::string::npos; at = script.find(word, at))
            script.replace(at, word.size(), by);
    };
    if (sqlite) {
        replace("SERIES", "(WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s "
                          "WHERE i < " +
                              last + ") SELECT i FROM s)");
        replace("MAC", "printf('%012X', 80246636544 + i)");
        replace("TIME", "strftime('%Y-%m-%dT%H:%M:%S.000Z', 1796709600 + i / 10, 'unixepoch')");
    } else {
        replace("SERIES", "generate_series(0, " + last + ") AS i");
        replace("MAC", "lpad(upper(to_hex(80246636544 + i)), 12, '0')");
        replace("TIME", "to_char(timestamp '2026-12-08 06:00' + (i / 10) * interval '1 second', "
                        "'YYYY-MM-DD\"T\"HH24:MI:SS.000\"Z\"')");
    }
    return script;
}

bool fillSqlite(const std::string& path, std::uint64_t units)
{
    if (const auto created = openProductionRecord(path); !created) {
        std::fprintf(stderr, "%s\n", created.failure().text().c_str());
        return false;
    }
    sqlite3* db = nullptr;
    char* error = nullptr;
    const bool filled =
        sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, ("BEGIN;" + fillScript(true, units) + "COMMIT; ANALYZE;").c_str(), nullptr,
                     nullptr, &error) == SQLITE_OK;
    if (!filled)
        std::fprintf(stderr, "fill: %s\n", error ? error : sqlite3_errmsg(db));
    sqlite3_free(error);
    sqlite3_close(db);
    return filled;
}

// The page as record report --html writes it.
tolvane::Result<void> writePage(const ReportFigures& figures, const std::string& location,
                                const std::string& page)
{
    const auto chartScript = tolvane::report::readChartScript();
    if (!chartScript)
        return chartScript.failure();
    const std::string html = tolvane::report::reportPage(
        figures, {location, {}, std::chrono::system_clock::now()}, *chartScript);
    return tolvane::writeFileAtomically(
        page, {reinterpret_cast<const std::uint8_t*>(html.data()), html.size()});
}

// The report of the whole record written to page, in a child of its own: its time, and the
// child's peak memory.
void measure(const std::string& location, const std::string& page, const char* label)
{
    const auto run = tolvane::bench::runInChild([&] {
        const auto started = Clock::now();
        RecordOptions options;
        options.readOnly = true;
        options.answerTimeout = std::chrono::minutes(5); // as record report gives it
        auto record = openProductionRecord(location, options);
        auto figures = record ? (*record)->reportFigures({})
                              : tolvane::Result<ReportFigures>(record.failure());
        if (!figures) {
            std::fprintf(stderr, "%s\n", figures.failure().text().c_str());
            return -1.0;
        }
        if (const auto written = writePage(*figures, location, page); !written) {
            std::fprintf(stderr, "%s\n", written.failure().text().c_str());
            return -1.0;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        std::printf("  %s: %lld units, %lld ok\n", label,
                    static_cast<long long>(figures->totals.units),
                    static_cast<long long>(figures->totals.ok));
        return seconds;
    });
    std::printf("%-34s %8.2f s (goal < %.0f s; this process's CPU %.2f s) %8.1f MiB (goal < %.0f "
                "MiB) %s\n",
                label, run.value, GoalSeconds, run.cpuSeconds, run.peakMiB, GoalMiB,
                run.value >= 0 && run.value < GoalSeconds && run.peakMiB < GoalMiB ? "met"
                                                                                   : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t units = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tolvane-report-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "units.db").string();
    const std::string page = (folder / "report.html").string();
    const std::string count = std::to_string(units) + " units";

    auto started = Clock::now();
    if (!fillSqlite(file, units))
        return 1;
    std::printf("SQLite: filled %s (two rows each) in %.1f s\n", count.c_str(),
                std::chrono::duration<double>(Clock::now() - started).count());
    measure(file, page, ("report, SQLite, " + count).c_str());

    std::string error;
    tolvane::test::PostgresClusterOptions options;
    options.sharedBuffersMiB = 128; // the server's own default
    const auto cluster = tolvane::test::PostgresCluster::start(&error, options);
    const auto database = cluster ? cluster->freshDatabase(&error) : std::nullopt;
    if (!database) {
        std::fprintf(stderr, "PostgreSQL: %s\n", error.c_str());
        return 1;
    }
    const std::string location = cluster->location(*database);
    if (const auto created = openProductionRecord(location); !created) {
        std::fprintf(stderr, "%s\n", created.failure().text().c_str());
        return 1;
    }
    started = Clock::now();
    // Vacuumed as the server's autovacuum would have done by the time a report is asked for.
    if (!cluster->query(*database, fillScript(false, units) + "SELECT 1", &error) ||
        !cluster->query(*database, "VACUUM ANALYZE units", &error)) {
        std::fprintf(stderr, "fill: %s\n", error.c_str());
        return 1;
    }
    std::printf("PostgreSQL: filled %s (two rows each) in %.1f s\n", count.c_str(),
                std::chrono::duration<double>(Clock::now() - started).count());
    measure(location, page, ("report, PostgreSQL, " + count).c_str());
    std::filesystem::remove_all(folder);
    return 0;
}
