#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::record {

// SHA-256 fingerprints of the files a production record names, in lower-case hex.
std::string sha256Hex(std::string_view text);
// The digest of a file's content; nullopt with *error set when it cannot be read.
std::optional<std::string> sha256OfFile(const std::string& path, std::string* error = nullptr);

} // namespace tolvane::record
