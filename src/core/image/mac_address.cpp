#include "core/image/mac_address.h"

#include <cstdio>

namespace tolvane {

namespace {

constexpr std::uint32_t HalfMask = 0xFFFFFF;
constexpr std::size_t HalfDigits = 6;

// A piece that is not all hex digits counts as 0; callers that send an address check it first.
std::uint32_t halfValue(std::string_view piece)
{
    const std::int64_t value = parseHex(piece);
    return value < 0 ? 0u : static_cast<std::uint32_t>(value);
}

} // namespace

bool isHexDigit(char c)
{
    return hexDigitValue(c) >= 0;
}

int hexDigitValue(char c)
{
    // Compared as unsigned, so characters from 0x80 up are never digits.
    const auto code = static_cast<unsigned char>(c);
    if (code >= '0' && code <= '9')
        return code - '0';
    if (code >= 'a' && code <= 'f')
        return code - 'a' + 10;
    if (code >= 'A' && code <= 'F')
        return code - 'A' + 10;
    return -1;
}

std::int64_t parseHex(std::string_view text)
{
    if (text.size() > 8)
        return -1;
    std::int64_t value = 0;
    for (const char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool isValidMacText(std::string_view text)
{
    if (text.size() != 2 * HalfDigits)
        return false;
    for (const char c : text) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

MacPair splitMacAddress(std::string_view text)
{
    const std::string_view upper = text.substr(0, HalfDigits);
    const std::string_view lower =
        text.size() > HalfDigits ? text.substr(HalfDigits, HalfDigits) : std::string_view{};
    return MacPair{halfValue(upper), halfValue(lower)};
}

MacPair advanceMacAddress(MacPair pair)
{
    MacPair next = pair;
    next.lower = pair.lower + 1;
    if (next.lower > HalfMask) {
        next.lower = 0;
        next.upper = pair.upper + 1;
        if (next.upper > HalfMask)
            next.upper = 0;
    }
    return next;
}

std::string formatMacAddress(MacPair pair)
{
    char text[2 * HalfDigits + 1];
    std::snprintf(text, sizeof text, "%06X%06X", static_cast<unsigned>(pair.upper & HalfMask),
                  static_cast<unsigned>(pair.lower & HalfMask));
    return text;
}

} // namespace tolvane
