#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::sim {

// The highest number a payload saved in the directory by an earlier run carries, or 0.
std::size_t highestSavedSequenceNumber(const std::string& directory);

// Keeps a payload in a file of its own, directory/NNNN-TYPE.bin, numbered number. A taken name
// moves on to the number nextNumber hands out. Answers the path, or "" when it could not.
std::string savePayload(const std::string& directory, std::uint32_t typeCode,
                        const std::vector<std::uint8_t>& payload, std::size_t number,
                        const std::function<std::size_t()>& nextNumber);

} // namespace tolvane::sim
