#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane::test {

// The size of a PTZ image file: a checksum word and 36 slots of 1796 bytes.
inline constexpr std::size_t PtzImageSize = 64660;

// Sum of the little-endian 32-bit words of the bytes (a trailing partial word is left out),
// modulo 2^32.
std::uint32_t littleEndianWordSum(const std::vector<std::uint8_t>& bytes);

// A valid PTZ image written by hand: pattern bytes after a first word that makes the sum of all
// words 0.
std::vector<std::uint8_t> validPtzImageBytes();

} // namespace tolvane::test
