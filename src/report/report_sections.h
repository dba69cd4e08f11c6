#pragma once

#include "record/report_figures.h"

#include <string>

namespace tolvane::report {

// Text for HTML: &, <, >, " and ' written as entities.
std::string htmlText(const std::string& text);

// The parts of the report page that are plain HTML: the totals (their values carry ids
// "total-units", "total-ok"...; the first-pass yield "first-pass-yield"), the tables of benches
// and images, and the MAC addresses.
std::string totalsSection(const record::ReportFigures& figures);
std::string tablesSections(const record::ReportFigures& figures);
std::string macSection(const record::ReportFigures& figures);

} // namespace tolvane::report
