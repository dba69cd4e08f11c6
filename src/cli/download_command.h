#pragma once

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/progress_board.h"

#include <ostream>

namespace tolvane::cli {

// Runs `download ...` against every target, several at once, and returns the exit status.
int runDownloadCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
                       const CliSettings& settings, ProgressStyle style);

} // namespace tolvane::cli
