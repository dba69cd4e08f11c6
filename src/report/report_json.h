#pragma once

#include "report/report_page.h"

#include <nlohmann/json.hpp>

namespace tolvane::report {

// The figures as reportJson writes them; the page carries the same object for its charts.
nlohmann::json reportObject(const record::ReportFigures& figures, const ReportContext& context);

} // namespace tolvane::report
