#pragma once

#include "cli/arguments.h"

#include <optional>
#include <span>
#include <vector>

namespace tolvane::cli {

// The program or a command word that only leads to others.
struct CommandGroup {
    const char* word;      // "" for the program
    const char* missing;   // when none of its commands follows
    const char* unknownIs; // what an unknown next word is
    const char* heading;   // its options' heading in the full help
};

// One command: its words, its operands (all must be given; NUMBER takes every word left), the
// options that apply to it, and how its help shows it.
struct CommandRule {
    const char* group; // "" for a command of one word
    const char* word;
    CommandKind kind;
    std::optional<DownloadType> downloadType;
    std::vector<const char*> operands;
    std::vector<const char*> valueOptions;
    std::vector<const char*> flags;
    std::vector<const char*> requiredOptions;
    const char* synopsis; // what follows the command words on its usage line
    const char* summary;  // what it does, one line
};

// The program first, then the groups in the order the help shows them.
std::span<const CommandGroup> commandGroups();
// In the order the help shows them.
std::span<const CommandRule> commandRules();

} // namespace tolvane::cli
