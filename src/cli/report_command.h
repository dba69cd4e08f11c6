#pragma once

#include "cli/arguments.h"

#include <ostream>

namespace tolvane::cli {

// `record report RECORD [--since TIME] [--until TIME] (--html FILE | --format json)`: what the
// period produced, as a page with charts or as JSON on out.
int runRecordReportCommand(const CliCommand& command, std::ostream& out, std::ostream& err);

} // namespace tolvane::cli
