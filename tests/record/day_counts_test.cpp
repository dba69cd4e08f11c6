// A day's units counted by hour and result, and its failures by message.

#include "record/day_counts.h"

#include <gtest/gtest.h>

namespace tolvane::record {
namespace {

using namespace std::chrono;
constexpr sys_days Day = sys_days(year(2026) / 12 / 9);

RecordEntry row(const char* unit, const char* result, sys_seconds time, const char* message = "")
{
    RecordEntry entry;
    entry.unit = unit;
    entry.result = result;
    entry.time = time;
    entry.message = message;
    return entry;
}

TEST(DayCounts, CountsEachUnitOnceByTheRowThatTellsItsResult)
{
    const std::vector<RecordEntry> rows = {
        row("b", "pending", Day - 1min),                 // yesterday, failed after midnight
        row("h", "pending", Day - 13h),                  // yesterday, never finished
        row("b", "failed", Day + 1min, "Can't connect"), // failed at 00
        row("a", "pending", Day + 9h + 58min),
        row("a", "ok", Day + 10h + 2min), // ok at 10
        row("c", "pending", Day + 10h + 10min),
        row("c", "failed", Day + 10h + 11min, "Can't connect"), // failed at 10
        row("d", "pending", Day + 10h + 20min),
        row("d", "unconfirmed", Day + 10h + 21min, "No answer"), // unconfirmed at 10
        row("d", "released", Day + 12h, "checked"),              // not an outcome
        row("e", "pending", Day + 14h + 30min),                  // pending at 14
        row("f", "refused", Day + 14h + 40min, "MAC address 0012AB000001 is already used"),
        row("", "ok", Day + 15h), // rows of an older record: two units
        row("", "ok", Day + 15h + 30min),
        row("g", "ok", Day + 24h), // tomorrow
    };
    // {result index in DayResults, hour, units}, worked out by hand from the rows above.
    const std::vector<std::array<int, 3>> expected = {{0, 10, 1}, {0, 15, 2}, {1, 0, 1}, {1, 10, 1},
                                                      {2, 10, 1}, {3, 14, 1}, {4, 14, 1}};
    std::array<std::array<int, 24>, DayResults.size()> units{};
    for (const auto& [result, hour, count] : expected)
        units[static_cast<std::size_t>(result)][static_cast<std::size_t>(hour)] = count;

    const DayCounts counts = dayCounts(rows, Day);
    EXPECT_EQ(counts.units, units);
    ASSERT_EQ(counts.failures.size(), 2U);
    EXPECT_EQ(counts.failures[0].message, "Can't connect");
    EXPECT_EQ(counts.failures[0].units, 2);
    EXPECT_EQ(counts.failures[1].message, "No answer");
    EXPECT_EQ(counts.failures[1].units, 1);
}

} // namespace
} // namespace tolvane::record
