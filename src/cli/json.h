#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::cli {

// The text as a JSON string literal, quotes included. Bytes that are not part of valid UTF-8 are
// written as \u00XX so the line stays valid JSON whatever a file name holds.
std::string jsonString(std::string_view text);

// The members of a JSON object whose values are strings; members of other types are skipped.
// nullopt when the text is not one complete JSON object.
std::optional<std::map<std::string, std::string>> parseJsonObjectStrings(std::string_view text);

} // namespace tolvane::cli
