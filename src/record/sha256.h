#pragma once

#include "core/base/failure.h"

#include <string>
#include <string_view>

namespace tolvane::record {

// SHA-256 fingerprints of the files a production record names, in lower-case hex.
Result<std::string> sha256Hex(std::string_view text);
// The digest of a file's content, or why the file cannot be read.
Result<std::string> sha256OfFile(const std::string& path);

} // namespace tolvane::record
