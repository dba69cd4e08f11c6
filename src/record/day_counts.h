#pragma once

#include "record/record_entry.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace tolvane::record {

// The results a unit ends with, in the order the day's chart stacks them. A unit with no outcome
// row yet counts as pending.
inline constexpr std::array<const char*, 5> DayResults = {ResultOk, ResultFailed, ResultUnconfirmed,
                                                          ResultRefused, ResultPending};

struct MessageCount {
    std::string message;
    int units = 0;
};

// What one day (UTC) of the record came to.
struct DayCounts {
    // units[r][h]: the units whose result is DayResults[r], counted in the hour (UTC) of the row
    // that tells it.
    std::array<std::array<int, 24>, DayResults.size()> units{};
    // The units that failed or are unconfirmed, by their message; most first, then by message.
    std::vector<MessageCount> failures;
};

// Counts each unit of rows once, by its latest outcome row ("released" rows are an operator's
// afterthought, not an outcome), else its pending row, when that row falls on day. Rows of an
// older record without a unit id count each as a unit of its own.
DayCounts dayCounts(const std::vector<RecordEntry>& rows, std::chrono::sys_days day);

} // namespace tolvane::record
