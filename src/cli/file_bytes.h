#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

// A file's size, or nullopt with the reason (errno text) in *error.
std::optional<std::uint64_t> fileSize(const std::string& path, std::string* error);
// Up to `length` bytes from `offset`; fewer at the end of the file. nullopt with *error on failure.
std::optional<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                       std::uint64_t offset, std::size_t length,
                                                       std::string* error);

std::uint32_t littleEndian32(const std::uint8_t* bytes);
std::uint32_t bigEndian32(const std::uint8_t* bytes);
// "AB 12 00 00"
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);

} // namespace tolvane::cli
