#pragma once

#include <string>
#include <string_view>

namespace tolvane::cli {

// Every message on stderr (an error, a warning, a diagnostic) starts with the program's name;
// progress lines, tables and the help do not.
inline constexpr char MessagePrefix[] = "tolvane-cli: ";

// Each line of text as a message of its own, every line ended; "" for no text.
std::string messageLines(std::string_view text);

} // namespace tolvane::cli
