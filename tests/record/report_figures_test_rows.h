#pragma once

// A small record a report is checked against, read by the figures' test and the command line's.
// Units u1..u8 fall in reportPeriod() (06:00 to 08:00 on 2026-12-08), u0 and u9 outside it.

#include "record_test_support.h"

namespace tolvane::record_test {

inline RecordEntry reportRow(const char* unit, const char* mac, const char* result, int minute,
                             const char* bench, double seconds, const char* version = nullptr)
{
    RecordEntry row = unitRow(unit, std::string(mac), result);
    row.time += std::chrono::minutes(minute); // from 06:00
    row.bench = bench;
    row.durationSeconds = seconds;
    if (version) {
        row.version = version;
        row.sha256 = std::string(64, version[2] == '5' ? 'a' : 'b');
    }
    if (row.result == ResultUnconfirmed)
        row.message = "No acknowledgement";
    return row;
}

inline std::vector<RecordEntry> reportRows()
{
    return {
        reportRow("u0", "0012AB000000", "ok", -10, "A", 20),
        reportRow("u1", "0012AB000001", "pending", 10, "A", 0, "3.5.1"),
        reportRow("u1", "0012AB000001", "ok", 10, "A", 30, "3.5.1"),
        reportRow("u2", "0012AB000002", "ok", 20, "A", 40, "3.5.1"),
        reportRow("u3", "0012AB000003", "failed", 30, "A", 5),
        reportRow("u4", "0012AB000003", "ok", 40, "B", 50, "3.6.0"),
        reportRow("u5", "0012AB000005", "unconfirmed", 65, "B", 60),
        reportRow("u6", "0012AB000006", "unconfirmed", 70, "A", 70),
        reportRow("u6", "0012AB000006", "released", 80, "A", 0),
        reportRow("u7", "0012AB000002", "refused", 90, "A", 0),
        reportRow("u8", "0012AB000008", "pending", 100, "B", 0),
        reportRow("u9", "0012AB000009", "ok", 150, "B", 20),
    };
}

inline ReportPeriod reportPeriod()
{
    const auto six =
        std::chrono::sys_days(std::chrono::year(2026) / 12 / 8) + std::chrono::hours(6);
    return {six, six + std::chrono::hours(2)};
}

} // namespace tolvane::record_test
