#pragma once

#include "cli/arguments.h"

#include <ostream>

namespace tolvane::cli {

int runPtzShowCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
int runPtzVerifyCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
int runPtzBuildCommand(const CliCommand& command, std::ostream& out, std::ostream& err);

} // namespace tolvane::cli
