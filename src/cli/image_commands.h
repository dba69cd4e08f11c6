#pragma once

#include "cli/arguments.h"

#include <ostream>

namespace tolvane::cli {

// `version IMAGE [--app-only]`: the version on out, messages and decoder diagnostics on err.
int runVersionCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
// `inspect IMAGE`: what the file is and what it holds.
int runInspectCommand(const CliCommand& command, std::ostream& out, std::ostream& err);

} // namespace tolvane::cli
