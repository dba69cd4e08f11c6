#pragma once

#include "core/transfer/download_job.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane::cli {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// What the program takes from its surroundings rather than its arguments.
struct CliSettings {
    DownloadDeadlines deadlines;
    // Whether stderr is a terminal; nullopt asks isatty(2).
    std::optional<bool> terminal;
    int terminalColumns = 80;
    int terminalRows = 24;
};

// Runs one command line (without the program name). Results go to out, messages, progress and
// diagnostics to err. Returns the exit status.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliSettings& settings = {});

} // namespace tolvane::cli
