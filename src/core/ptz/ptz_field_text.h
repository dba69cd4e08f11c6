#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// How the PTZ editor reads its text fields back. Plain functions on strings, so they can be
// tested and fuzzed without a window.

// A byte from a two-hex-digit field (UTF-8), read leniently: each character keeps its place,
// "0"-"9" and "A"-"F" give their value and anything else gives 0, so "" is 00, "F" is 0F, "G5" is
// 05 and "5G" is 50. Only the low 8 bits of a longer text count. Never fails.
std::uint8_t lenientHexByte(std::string_view text);

// "%02X": two upper-case hexadecimal digits.
std::string hexByteText(std::uint8_t value);

// A signed decimal integer that fits 32 bits, with blanks and tabs allowed around it; nothing for
// empty text, stray characters or a number out of range.
std::optional<std::int32_t> parseDecimalInteger(std::string_view text);

// The longest start of a UTF-8 text that fits the record's name (23 bytes) without cutting a
// character in two.
std::string nameFieldText(std::string_view utf8);

} // namespace tolvane
