#include "report/report_page.h"

#include "record/postgres_location.h"
#include "record/record_entry.h"
#include "report/report_json.h"
#include "report/report_sections.h"

#include <cerrno>
#include <fstream>
#include <sstream>

namespace tolvane::report {

const std::vector<std::string> ChartScriptPaths = {
    "/usr/share/javascript/chart.js/chart.umd.js",
    "/usr/share/javascript/chart.js/chart.min.js",
};

namespace {

// On screen a column of sections; on A4 paper the same, without the screen's colours behind.
const char* const Style = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; color: #222; margin: 0 auto;
    max-width: 1100px; padding: 16px 24px; background: #fff; }
h1 { margin: 0 0 4px; font-size: 1.6em; }
h2 { font-size: 1.2em; border-bottom: 2px solid #1565c0; padding-bottom: 2px; margin-top: 24px; }
h3 { font-size: 1em; margin: 14px 0 6px; }
.meta { color: #555; margin: 2px 0; }
.figures { display: flex; flex-wrap: wrap; gap: 10px; }
.figure { border: 1px solid #ccc; border-radius: 6px; padding: 8px 14px; min-width: 90px;
    text-align: center; }
.figure .value { display: block; font-size: 1.8em; font-weight: bold; }
.figure .label { color: #555; }
.total-ok .value { color: #2e7d32; }
.total-failed .value { color: #c62828; }
.total-unconfirmed .value { color: #ef6c00; }
.chart { position: relative; height: 300px; }
table { border-collapse: collapse; margin: 4px 0; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: left; }
th { background: #eef3fb; }
td { font-variant-numeric: tabular-nums; }
.note { color: #555; font-size: 0.9em; }
.empty { font-size: 1.3em; padding: 24px 0; }
@page { size: A4; margin: 14mm; }
@media print {
    body { max-width: none; padding: 0; font-size: 10pt; }
    section { break-inside: avoid; }
    h2 { break-after: avoid; }
    .chart { height: 7cm; }
    th { background: none; }
}
)";

// Draws the charts from the figures the page carries, then marks the body as rendered.
const char* const PageScript = R"(
(function () {
  const data = JSON.parse(document.getElementById('report-data').textContent);
  const colours = { ok: '#2e7d32', failed: '#c62828', unconfirmed: '#ef6c00',
    refused: '#6a1b9a', released: '#1565c0', pending: '#9e9e9e' };
  const canvases = Array.from(document.querySelectorAll('canvas'));
  const drawn = new Set();
  const markDrawn = { id: 'markDrawn', afterRender(chart) {
    drawn.add(chart.canvas);
    if (drawn.size === canvases.length) document.body.dataset.rendered = 'true';
  } };
  const options = { animation: false, responsive: true, maintainAspectRatio: false };
  const hoursCanvas = document.getElementById('hours-chart');
  if (hoursCanvas) {
    const hours = [...new Set(data.units_per_hour.map(h => h.hour))].sort();
    const states = Object.keys(colours).filter(s => data.units_per_hour.some(h => h.state === s));
    const datasets = states.map(state => ({ label: state, backgroundColor: colours[state],
      data: hours.map(hour => (data.units_per_hour.find(h => h.hour === hour &&
        h.state === state) || { units: 0 }).units) }));
    new Chart(hoursCanvas, { type: 'bar', plugins: [markDrawn],
      data: { labels: hours.map(h => h.replace('T', ' ') + ':00'), datasets },
      options: Object.assign({ scales: { x: { stacked: true },
        y: { stacked: true, beginAtZero: true, title: { display: true, text: 'units' } } } },
        options) });
  }
  const failuresCanvas = document.getElementById('failures-chart');
  if (failuresCanvas) {
    new Chart(failuresCanvas, { type: 'bar', plugins: [markDrawn],
      data: { labels: data.failures_by_message.map(f => f.message || '(no message)'),
        datasets: [{ label: 'units', backgroundColor: colours.failed,
          data: data.failures_by_message.map(f => f.units) }] },
      options: Object.assign({ indexAxis: 'y', plugins: { legend: { display: false } },
        scales: { x: { beginAtZero: true } } }, options) });
  }
  if (canvases.length === 0) document.body.dataset.rendered = 'true';
  window.addEventListener('beforeprint', () => {
    if (window.Chart) for (const chart of Object.values(Chart.instances)) chart.resize();
  });
})();
)";

// A script put inside a <script> element: nothing in it may close the element early.
std::string scriptText(std::string text)
{
    for (auto at = text.find("</script"); at != std::string::npos; at = text.find("</script", at))
        text.replace(at, 2, "<\\/");
    return text;
}

// JSON put inside a <script> element: no '<' at all, so no tag can begin in it ('<' appears in
// JSON only within strings, where \u003c reads as the same character).
std::string jsonScriptText(const std::string& json)
{
    std::string text;
    text.reserve(json.size());
    for (const char c : json)
        text += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return text;
}

std::string periodText(const record::ReportPeriod& period)
{
    return (period.since ? record::isoUtcTime(*period.since) : "the first row") + " to " +
           (period.until ? "before " + record::isoUtcTime(*period.until) : "the last row");
}

std::string header(const ReportContext& context)
{
    return "<header>\n<h1>Production report</h1>\n<p class=\"meta\">Record: <span "
           "id=\"record-location\">" +
           htmlText(record::withoutPassword(context.location)) +
           "</span></p>\n<p class=\"meta\">Period: <span id=\"period\">" +
           htmlText(periodText(context.period)) +
           "</span></p>\n<p class=\"meta\">Made: <span id=\"made\">" +
           record::isoUtcTime(context.made) + "</span> (UTC)</p>\n</header>\n";
}

std::string chartSections(const record::ReportFigures& figures)
{
    std::string html = "<section class=\"hours\">\n<h2>Units per hour, by result</h2>\n"
                       "<div class=\"chart\"><canvas id=\"hours-chart\"></canvas></div>\n"
                       "</section>\n<section class=\"failures\">\n<h2>Failures by message</h2>\n";
    if (figures.failures.empty())
        return html + "<p class=\"note\">No unit failed.</p>\n</section>\n";
    return html + "<div class=\"chart\"><canvas id=\"failures-chart\"></canvas></div>\n"
                  "<p class=\"note\">Failed and unconfirmed units, the commonest messages.</p>\n"
                  "</section>\n";
}

} // namespace

Result<std::string> readChartScript(const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            continue;
        std::ostringstream text;
        text << file.rdbuf();
        if (!file.bad())
            return text.str();
        return Failure(errno, "read " + path);
    }
    std::string looked;
    for (const auto& path : paths)
        looked += (looked.empty() ? "" : ", ") + path;
    return Failure(0, "Chart.js is missing (looked for " + looked +
                          "): install the package libjs-chart.js");
}

std::string reportPage(const record::ReportFigures& figures, const ReportContext& context,
                       const std::string& chartScript)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Production report</title>\n<style>" +
                       std::string(Style) + "</style>\n</head>\n<body data-rendered=\"false\">\n" +
                       header(context);
    const bool empty = figures.totals.units == 0;
    if (empty)
        html += "<p class=\"empty\" id=\"empty-period\">No units were recorded in this "
                "period.</p>\n";
    else
        html += totalsSection(figures) + chartSections(figures) + tablesSections(figures) +
                macSection(figures);
    html += "<script type=\"application/json\" id=\"report-data\">" +
            jsonScriptText(reportObject(figures, context)
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) +
            "</script>\n";
    if (!empty)
        html += "<script>" + scriptText(chartScript) + "</script>\n";
    return html + "<script>" + PageScript + "</script>\n</body>\n</html>\n";
}

} // namespace tolvane::report
