#include "report/report_json.h"

#include "record/postgres_location.h"
#include "record/record_entry.h"

namespace tolvane::report {

namespace {

using nlohmann::json;
using record::ReportFigures;

json optionalText(const std::optional<std::string>& text)
{
    return text ? json(*text) : json(nullptr);
}

json optionalTime(const std::optional<std::chrono::system_clock::time_point>& time)
{
    return time ? json(record::isoUtcTime(*time)) : json(nullptr);
}

// ok out of units, or null when there were none.
json share(std::int64_t ok, std::int64_t units)
{
    return units > 0 ? json(static_cast<double>(ok) / static_cast<double>(units)) : json(nullptr);
}

json rangesJson(const std::vector<ReportFigures::MacRange>& ranges)
{
    json list = json::array();
    for (const auto& range : ranges)
        list.push_back({{"first", range.first}, {"last", range.last}, {"count", range.count}});
    return list;
}

json macsJson(const ReportFigures& figures)
{
    json held = json::array();
    for (const auto& unit : figures.held)
        held.push_back({{"mac", unit.mac},
                        {"serial", unit.serial ? json(*unit.serial) : json(nullptr)},
                        {"unit", unit.unit},
                        {"target", unit.target},
                        {"time", unit.time}});
    return {{"mac_ranges", rangesJson(figures.macRanges)},
            {"mac_range_count", figures.macRangeCount},
            {"mac_gaps", rangesJson(figures.macGaps)},
            {"unconfirmed_held", held},
            {"unconfirmed_held_count", figures.heldCount}};
}

json tablesJson(const ReportFigures& figures)
{
    json hours = json::array(), failures = json::array(), benches = json::array(),
         images = json::array();
    for (const auto& hour : figures.hours)
        hours.push_back({{"hour", hour.hour}, {"state", hour.state}, {"units", hour.units}});
    for (const auto& failure : figures.failures)
        failures.push_back({{"message", failure.message}, {"units", failure.units}});
    for (const auto& bench : figures.benches)
        benches.push_back(
            {{"bench", bench.name},
             {"units", bench.units},
             {"ok", bench.ok},
             {"yield", share(bench.ok, bench.units)},
             {"median_seconds", bench.medianSeconds ? json(*bench.medianSeconds) : json(nullptr)}});
    for (const auto& image : figures.images)
        images.push_back({{"version", optionalText(image.version)},
                          {"sha256", optionalText(image.sha256)},
                          {"units", image.units}});
    return {{"units_per_hour", hours},
            {"failures_by_message", failures},
            {"benches", benches},
            {"images", images}};
}

} // namespace

nlohmann::json reportObject(const ReportFigures& figures, const ReportContext& context)
{
    const auto& totals = figures.totals;
    json report = {
        {"record", record::withoutPassword(context.location)},
        {"since", optionalTime(context.period.since)},
        {"until", optionalTime(context.period.until)},
        {"made", record::isoUtcTime(context.made)},
        {"units", totals.units},
        {"ok", totals.ok},
        {"failed", totals.failed},
        {"unconfirmed", totals.unconfirmed},
        {"refused", totals.refused},
        {"released", totals.released},
        {"pending", totals.pending},
        {"first_pass_devices", figures.firstPassDevices},
        {"first_pass_ok", figures.firstPassOk},
        {"first_pass_yield", share(figures.firstPassOk, figures.firstPassDevices)},
    };
    report.update(tablesJson(figures));
    report.update(macsJson(figures));
    return report;
}

std::string reportJson(const ReportFigures& figures, const ReportContext& context)
{
    return reportObject(figures, context).dump(2, ' ', false, json::error_handler_t::replace) +
           "\n";
}

} // namespace tolvane::report
