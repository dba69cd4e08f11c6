#pragma once

#include "core/base/failure.h"
#include "record/sql_driver.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::record {

// The rows a report covers: written at or after since and before until; none given, all of them.
struct ReportPeriod {
    std::optional<std::chrono::system_clock::time_point> since;
    std::optional<std::chrono::system_clock::time_point> until;
};

// What a period of the record produced, counted by the database. A unit (one unit id) counts in
// the period of its outcome row, with that row's result, "released" once it was released; a unit
// without an outcome counts as "pending" by its pending row while that holds its MAC or serial,
// or as "released" by its release.
struct ReportFigures {
    struct Totals {
        std::int64_t units = 0;
        std::int64_t ok = 0;
        std::int64_t failed = 0;
        std::int64_t unconfirmed = 0;
        std::int64_t refused = 0;
        std::int64_t released = 0;
        std::int64_t pending = 0;
    } totals;
    // Devices (a MAC address, else a serial number, else the unit) that were sent something, and
    // those whose first unit succeeded.
    std::int64_t firstPassDevices = 0;
    std::int64_t firstPassOk = 0;

    struct HourCount {
        std::string hour; // "2026-12-08T06", UTC
        std::string state;
        std::int64_t units = 0;
    };
    std::vector<HourCount> hours; // by hour, then state

    struct MessageCount {
        std::string message;
        std::int64_t units = 0;
    };
    std::vector<MessageCount> failures; // failed and unconfirmed units, the commonest first

    struct Bench {
        std::string name; // "" for rows that name none
        std::int64_t units = 0;
        std::int64_t ok = 0;
        std::optional<double> medianSeconds; // of the units sent something, to 0.1 s
    };
    std::vector<Bench> benches;

    struct Image {
        std::optional<std::string> version;
        std::optional<std::string> sha256;
        std::int64_t units = 0;
    };
    std::vector<Image> images; // the commonest first

    // A run of consecutive MAC addresses (twelve hex digits) handed out to units.
    struct MacRange {
        std::string first;
        std::string last;
        std::int64_t count = 0;
    };
    std::vector<MacRange> macRanges; // in order, at most MaxListed
    std::int64_t macRangeCount = 0;  // all of them
    std::vector<MacRange> macGaps;   // between the listed ranges

    // An unconfirmed unit that still holds its MAC address.
    struct HeldMac {
        std::string mac;
        std::optional<std::uint32_t> serial;
        std::string unit;
        std::string target;
        std::string time;
    };
    std::vector<HeldMac> held;  // by MAC, at most MaxListed
    std::int64_t heldCount = 0; // all of them

    static constexpr int MaxListed = 1000;
    static constexpr int MaxMessages = 20;
};

// The figures of the record reached through db (of schemaVersion) over the period, in one
// statement: the rows are grouped by the database, and only the groups come back.
Result<ReportFigures> readReportFigures(SqlConnection& db, int schemaVersion,
                                        const ReportPeriod& period);

} // namespace tolvane::record
