#pragma once

#include "cli/arguments.h"

#include <span>
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

// An option's or operand's line in the help, shown for the commands whose words start with scope
// ("" for none: the program's own options).
struct OptionHelp {
    const char* name;
    const char* scope;
    const char* value; // what the option is followed by, "" for a flag or an operand
    const char* text;
};

// A paragraph the help shows below the options of the commands its scope starts.
struct HelpNote {
    const char* scope;
    const char* text; // lines ended by newlines, but the last
};

// The described options, in the order the help shows them.
std::vector<OptionHelp> optionHelp();
std::span<const HelpNote> helpNotes();

// What a download needs beyond each option's own value.
bool checkDownload(const CommandValues& values, std::string& error);

} // namespace tolvane::cli
