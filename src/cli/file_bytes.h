#pragma once

#include "core/base/regular_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::cli {

// Opens a file the operator named; a FIFO or a device is refused at once instead of blocking.
// On failure *error says why: "cannot open PATH: reason" or "PATH is not a regular file", with
// `what` ("targets file ") ahead of the path.
bool openOperatorFile(RegularFile& file, const std::string& path, std::string* error,
                      std::string_view what = {});
// "cannot read PATH: reason", the reason from errno after a failed read.
std::string readFailureText(const std::string& path, std::string_view what = {});
// Up to `length` bytes from `offset`; fewer at the end of the file. nullopt with *error on failure.
std::optional<std::vector<std::uint8_t>> readFileBytes(RegularFile& file, std::uint64_t offset,
                                                       std::size_t length, std::string* error);

} // namespace tolvane::cli
