#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// A MAC address as two 24-bit halves: the first and the last six of its twelve hex digits.
struct MacPair {
    std::uint32_t upper = 0;
    std::uint32_t lower = 0;
    friend bool operator==(const MacPair&, const MacPair&) = default;
};

bool isHexDigit(char c);
// 0-15, or -1 for a character that is not a hex digit.
int hexDigitValue(char c);
// Value of up to 8 hex digits, last digit least significant; "" is 0. Returns -1 for a text
// longer than 8 characters or holding a character that is not a hex digit.
std::int64_t parseHex(std::string_view text);
// Exactly twelve hex digits.
bool isValidMacText(std::string_view text);
// Upper = first six characters, lower = the next six; shorter texts give shorter pieces.
MacPair splitMacAddress(std::string_view text);
// The next address: lower + 1, carrying into upper; wraps from FFFFFF:FFFFFF to 0.
MacPair advanceMacAddress(MacPair pair);
// Twelve upper-case hex digits.
std::string formatMacAddress(MacPair pair);

} // namespace tolvane
