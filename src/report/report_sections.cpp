#include "report/report_sections.h"

#include <cstdio>
#include <initializer_list>

namespace tolvane::report {

namespace {

using record::ReportFigures;

// "97.5 %", or "-" when there is nothing to divide.
std::string percent(std::int64_t part, std::int64_t whole)
{
    if (whole <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

std::string seconds(const std::optional<double>& value)
{
    if (!value)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", *value);
    return text;
}

std::string row(std::initializer_list<std::string> cells, const char* cell = "td")
{
    std::string html = "<tr>";
    for (const auto& text : cells)
        html += std::string("<") + cell + ">" + htmlText(text) + "</" + cell + ">";
    return html + "</tr>\n";
}

std::string figureBox(const std::string& id, const std::string& value, const std::string& label)
{
    return "<div class=\"figure " + id + "\"><span class=\"value\" id=\"" + id + "\">" + value +
           "</span><span class=\"label\">" + label + "</span></div>\n";
}

// A line under a list that shows only its first entries.
std::string moreLine(std::size_t shown, std::int64_t all, const char* what)
{
    if (static_cast<std::int64_t>(shown) >= all)
        return "";
    return "<p class=\"note\">The first " + std::to_string(shown) + " of " + std::to_string(all) +
           " " + what + ".</p>\n";
}

std::string rangesTable(const std::vector<ReportFigures::MacRange>& ranges, const char* id)
{
    std::string html =
        std::string("<table id=\"") + id + "\">\n" + row({"First", "Last", "Addresses"}, "th");
    for (const auto& range : ranges)
        html += row({range.first, range.last, std::to_string(range.count)});
    return html + "</table>\n";
}

} // namespace

std::string htmlText(const std::string& text)
{
    std::string html;
    html.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': html += "&amp;"; break;
        case '<': html += "&lt;"; break;
        case '>': html += "&gt;"; break;
        case '"': html += "&quot;"; break;
        case '\'': html += "&#39;"; break;
        default: html += c;
        }
    }
    return html;
}

std::string totalsSection(const ReportFigures& figures)
{
    const auto& t = figures.totals;
    std::string html = "<section class=\"totals\">\n<h2>Totals</h2>\n<div class=\"figures\">\n";
    for (const auto& [name, value] : {std::pair{"units", t.units},
                                      {"ok", t.ok},
                                      {"failed", t.failed},
                                      {"unconfirmed", t.unconfirmed},
                                      {"refused", t.refused},
                                      {"released", t.released},
                                      {"pending", t.pending}})
        html += figureBox(std::string("total-") + name, std::to_string(value), name);
    html += figureBox("first-pass-yield", percent(figures.firstPassOk, figures.firstPassDevices),
                      "first-pass yield");
    return html + "</div>\n<p class=\"note\">First-pass yield: of the " +
           std::to_string(figures.firstPassDevices) +
           " devices (MAC addresses) sent an image or data, those whose first unit succeeded: " +
           std::to_string(figures.firstPassOk) + ".</p>\n</section>\n";
}

std::string tablesSections(const ReportFigures& figures)
{
    std::string html = "<section class=\"benches\">\n<h2>Benches</h2>\n<table id=\"benches\">\n" +
                       row({"Bench", "Units", "OK", "Yield", "Median duration"}, "th");
    for (const auto& bench : figures.benches)
        html += row({bench.name.empty() ? "-" : bench.name, std::to_string(bench.units),
                     std::to_string(bench.ok), percent(bench.ok, bench.units),
                     seconds(bench.medianSeconds)});
    html += "</table>\n</section>\n<section class=\"images\">\n<h2>Images</h2>\n";
    if (figures.images.empty())
        return html + "<p class=\"note\">No unit was sent an image file.</p>\n</section>\n";
    html += "<table id=\"images\">\n" + row({"Version", "SHA-256", "Units"}, "th");
    for (const auto& image : figures.images)
        html += row(
            {image.version.value_or("-"), image.sha256.value_or("-"), std::to_string(image.units)});
    return html + "</table>\n</section>\n";
}

std::string macSection(const ReportFigures& figures)
{
    std::string html = "<section class=\"macs\">\n<h2>MAC addresses</h2>\n<h3>Ranges handed "
                       "out</h3>\n" +
                       rangesTable(figures.macRanges, "mac-ranges") +
                       moreLine(figures.macRanges.size(), figures.macRangeCount, "ranges");
    html += "<h3>Gaps between them</h3>\n";
    html += figures.macGaps.empty() ? "<p class=\"note\">None.</p>\n"
                                    : rangesTable(figures.macGaps, "mac-gaps");
    html += "<h3>Unconfirmed units still holding their MAC address</h3>\n";
    if (figures.held.empty())
        return html + "<p class=\"note\">None.</p>\n</section>\n";
    html += "<table id=\"held-macs\">\n" + row({"MAC", "Serial", "Unit", "Target", "Time"}, "th");
    for (const auto& unit : figures.held)
        html += row({unit.mac, unit.serial ? std::to_string(*unit.serial) : "-", unit.unit,
                     unit.target, unit.time});
    return html + "</table>\n" + moreLine(figures.held.size(), figures.heldCount, "units") +
           "<p class=\"note\">Once a unit has been checked, its MAC address is freed with "
           "tolvane-cli record release RECORD MAC --reason TEXT.</p>\n</section>\n";
}

} // namespace tolvane::report
