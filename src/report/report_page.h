#pragma once

#include "core/base/failure.h"
#include "record/report_figures.h"

#include <chrono>
#include <string>
#include <vector>

namespace tolvane::report {

// What a report says about itself.
struct ReportContext {
    std::string location; // the record's, shown without a password
    record::ReportPeriod period;
    std::chrono::system_clock::time_point made;
};

// Where Debian's libjs-chart.js puts Chart.js, the first that exists is read.
extern const std::vector<std::string> ChartScriptPaths;

// Chart.js, to be inlined in the page; a failure that names the package when it is missing.
Result<std::string> readChartScript(const std::vector<std::string>& paths = ChartScriptPaths);

// One self-contained HTML page: styles, figures and scripts inlined, nothing fetched. The totals
// carry the ids "total-units", "total-ok" and so on; once every chart has been drawn the page's
// script sets data-rendered="true" on the body. A period without units gets a page that says so.
std::string reportPage(const record::ReportFigures& figures, const ReportContext& context,
                       const std::string& chartScript);

// The same figures as one JSON object, the totals under "units", "ok", "failed", "unconfirmed",
// "refused", "released" (and "pending"), followed by a newline.
std::string reportJson(const record::ReportFigures& figures, const ReportContext& context);

} // namespace tolvane::report
