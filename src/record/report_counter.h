#pragma once

#include "record/report_figures.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::record {

// A MAC address's twelve upper-case hex digits as a number (none for any other text), and back.
std::optional<std::uint64_t> macNumber(std::string_view mac);
std::string macText(std::uint64_t number);

// A unit of the period by the row that tells its state, as the report counts it.
struct UnitState {
    std::int64_t id = 0;
    std::string_view device;             // its MAC, else its serial as text, else its unit
    std::optional<std::string_view> mac; // twelve hex digits
    std::optional<std::int64_t> serial;
    std::string_view bench; // "" for a row that names none
    std::string_view hour;  // "2026-12-08T06"
    std::string_view state;
    double durationSeconds = 0;
    std::string_view message; // of a failed or unconfirmed unit
    std::optional<std::string_view> version;
    std::optional<std::string_view> sha256;
    bool macInUse = false;
    // Of an unconfirmed unit, shown beside the MAC it holds.
    std::string_view unit;
    std::string_view target;
    std::string_view time;
};

// Counts a period's figures from its units' states handed over one at a time, in any order. It
// keeps the groups the figures show and, per unit not refused, 16 bytes to find its device's
// first unit and the runs of MACs.
class ReportCounter {
public:
    ReportCounter() = default;
    ReportCounter(const ReportCounter&) = delete;
    ReportCounter& operator=(const ReportCounter&) = delete;

    void add(const UnitState& unit);
    ReportFigures figures();

private:
    struct Bench {
        std::int64_t units = 0;
        std::int64_t ok = 0;
        std::map<std::int64_t, std::int64_t> tenths; // units sent something, by tenths of a second
    };
    struct DeviceUnit {
        std::uint64_t key;        // the MAC's number, or with TextKey set the device's hash
        std::uint64_t idAndFlags; // the row's id, shifted up for two flags
    };

    std::int64_t& countOfImage(std::optional<std::string_view> version,
                               std::optional<std::string_view> sha256);
    void hold(const UnitState& unit);
    void countDevices(ReportFigures& figures);
    static std::optional<double> median(const std::map<std::int64_t, std::int64_t>& tenths);

    ReportFigures m_figures;
    using HourCounts =
        std::map<std::string, std::map<std::string, std::int64_t, std::less<>>, std::less<>>;
    HourCounts m_hours;
    HourCounts::iterator m_lastHour = m_hours.end();
    std::map<std::string, Bench, std::less<>> m_benches;
    std::map<std::string, std::int64_t, std::less<>> m_failures;
    using ImageCounts =
        std::map<std::pair<std::optional<std::string>, std::optional<std::string>>, std::int64_t>;
    ImageCounts m_images;
    ImageCounts::iterator m_lastImage = m_images.end();
    std::vector<DeviceUnit> m_deviceUnits;
};

} // namespace tolvane::record
