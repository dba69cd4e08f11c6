#pragma once

#include "core/base/regular_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::service {

// Opens a file the operator named; a FIFO or a device is refused at once instead of blocking.
// On failure *error says why: "cannot open PATH: reason" or "PATH is not a regular file", with
// `what` ("targets file ") ahead of the path.
bool openOperatorFile(RegularFile& file, const std::string& path, std::string* error,
                      std::string_view what = {});
// "cannot read PATH: reason", the reason the system gave for a failed read.
std::string readFailureText(const std::string& path, const Failure& failure,
                            std::string_view what = {});
// Up to `length` bytes from `offset`; fewer at the end of the file. nullopt with *error on failure.
std::optional<std::vector<std::uint8_t>> readFileBytes(RegularFile& file, std::uint64_t offset,
                                                       std::size_t length, std::string* error);

// Hands the whole file to take, a block at a time, until the end or until take answers false.
// Answers false when take did, or, with *error set, when the file cannot be read.
bool forEachBlock(RegularFile& file,
                  const std::function<bool(const std::uint8_t*, std::size_t)>& take,
                  std::string* error, std::string_view what = {});

} // namespace tolvane::service
