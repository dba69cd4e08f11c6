#include "record/day_counts.h"

#include <algorithm>
#include <map>

namespace tolvane::record {

namespace {

// The row that tells each unit's result: its latest outcome, else its latest pending row.
std::vector<const RecordEntry*> tellingRows(const std::vector<RecordEntry>& rows)
{
    std::map<std::string, const RecordEntry*> byUnit;
    std::vector<const RecordEntry*> telling;
    for (const auto& row : rows) {
        if (row.result == ResultReleased)
            continue;
        if (row.unit.empty()) {
            telling.push_back(&row);
            continue;
        }
        const RecordEntry*& held = byUnit[row.unit];
        const bool pending = row.result == ResultPending;
        if (!pending || !held || held->result == ResultPending)
            held = &row;
    }
    for (const auto& [unit, row] : byUnit)
        telling.push_back(row);
    return telling;
}

} // namespace

DayCounts dayCounts(const std::vector<RecordEntry>& rows, std::chrono::sys_days day)
{
    DayCounts counts;
    std::map<std::string, int> failures;
    for (const RecordEntry* row : tellingRows(rows)) {
        if (std::chrono::floor<std::chrono::days>(row->time) != day)
            continue;
        const auto result = std::find_if(DayResults.begin(), DayResults.end(),
                                         [row](const char* name) { return row->result == name; });
        if (result == DayResults.end())
            continue;
        const auto hour = std::chrono::floor<std::chrono::hours>(row->time - day).count();
        ++counts.units[static_cast<std::size_t>(result - DayResults.begin())]
                      [static_cast<std::size_t>(hour)];
        if (row->result == ResultFailed || row->result == ResultUnconfirmed)
            ++failures[row->message];
    }
    for (const auto& [message, units] : failures)
        counts.failures.push_back({message, units});
    std::stable_sort(
        counts.failures.begin(), counts.failures.end(),
        [](const MessageCount& a, const MessageCount& b) { return a.units > b.units; });
    return counts;
}

} // namespace tolvane::record
