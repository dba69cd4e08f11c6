#pragma once

#include "core/base/failure.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::record {

// What one unit's download came to: one row of the production record, one JSON object when
// exported.
struct RecordEntry {
    std::chrono::system_clock::time_point time;
    std::string target; // "HOST:PORT"
    std::string type;   // "app", "integrated", "ptz", "data"
    std::optional<std::string> file;
    std::optional<std::string> sha256;
    std::optional<std::string> version;  // as announced to the recorder, "3.5.1"
    std::optional<std::string> mac;      // twelve upper-case hex digits, when sent
    std::optional<std::uint32_t> serial; // when sent
    std::string unit;                    // ties a unit's "pending" row to its outcome row
    std::string result;                  // "ok", "failed", "refused" or "pending"
    std::string message;
    double durationSeconds = 0;
};

inline constexpr const char* ResultOk = "ok";
inline constexpr const char* ResultFailed = "failed";
inline constexpr const char* ResultRefused = "refused";
// Written before a MAC address goes out; the unit's outcome row follows when the transfer ends.
inline constexpr const char* ResultPending = "pending";

// A fresh random id for one unit's rows, 32 hex digits: unique across processes and machines
// sharing a record.
std::string newUnitId();

// "2026-12-08T06:19:37.123Z"
std::string isoUtcTime(std::chrono::system_clock::time_point time);
// The reverse for that exact form; nothing for any other text.
std::optional<std::chrono::system_clock::time_point> parseIsoUtcTime(std::string_view text);
// "2026-12-08T06:19:37", exactly so: a day of the calendar, hours 00-23, minutes and seconds
// 00-59. No second 60: the system clock has no leap second, and it would roll into the next
// minute. Every time the record reads, or is asked about, goes by this rule.
std::optional<std::chrono::sys_seconds> parseIsoUtcSecond(std::string_view text);

// The entry as one JSON object on one line, followed by a newline.
std::string recordLine(const RecordEntry& entry);
// One line of recordLine's form, or the Failure that says why it is not one ("not JSON"). Only
// the result is required: a missing time reads as the start of the epoch, a missing unit as "". A
// time may also be in whole seconds, and a MAC address may have ':' or '-' between its digits and
// lower case; it is kept as twelve upper-case digits.
Result<RecordEntry> parseRecordLine(std::string_view line);

// The entry as a CSV row (RFC 4180) with the columns of csvHeader(), ending in CRLF.
std::string csvHeader();
std::string csvRow(const RecordEntry& entry);

} // namespace tolvane::record
