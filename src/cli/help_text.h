#pragma once

#include <string>
#include <vector>

namespace tolvane::cli {

// The command words args start with: a group ("download"), a group and one of its commands
// ("download ptz"), a command of one word ("inspect"), or none.
std::vector<std::string> leadingCommandWords(const std::vector<std::string>& args);

// The help of the command words: the full text for none (or for words that name nothing), a
// group's commands and options, or one command's synopsis and options.
std::string helpText(const std::vector<std::string>& words);

// The few lines a command line without a command gets, after its error line.
std::string shortUsageText();

} // namespace tolvane::cli
