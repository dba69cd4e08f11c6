#pragma once

#include "cli/arguments.h"
#include "core/base/regular_file.h"

#include <ostream>

namespace tolvane::cli {

// Whether the file starts as a PTZ protocol database does.
bool hasDatabaseHeader(RegularFile& file);

int runPtzShowCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
int runPtzVerifyCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
int runPtzBuildCommand(const CliCommand& command, std::ostream& out, std::ostream& err);

} // namespace tolvane::cli
