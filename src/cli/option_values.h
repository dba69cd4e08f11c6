#pragma once

#include "cli/arguments.h"

#include <string>
#include <vector>

namespace tolvane::cli {

// A command line's values as they are read, in the order given, with where each target came
// from: "" for --target, "FILE:LINE" for a line of a targets file.
struct CommandValues {
    CliCommand command;
    std::vector<std::string> targetPlaces;
};

// Checks one operand's or option's value (a flag's is "true") and stores it in values; false
// with the reason in error.
bool readOptionValue(const std::string& name, const std::string& value, CommandValues& values,
                     std::string& error);

// What a download needs beyond each option's own value.
bool checkDownload(const CommandValues& values, std::string& error);
// A report goes to a page or to standard output: one of the two.
bool checkReport(const CommandValues& values, std::string& error);

} // namespace tolvane::cli
