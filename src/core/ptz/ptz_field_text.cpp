#include "core/ptz/ptz_field_text.h"

#include "core/base/decimal_text.h"
#include "core/ptz/ptz_protocol.h"

#include <algorithm>
#include <cstdio>

namespace tolvane {

namespace {

unsigned hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::uint8_t lenientHexByte(std::string_view text)
{
    unsigned value = 0;
    for (const char c : text) {
        // A character of several UTF-8 bytes keeps one place: its continuation bytes are skipped.
        if ((static_cast<unsigned char>(c) & 0xC0u) == 0x80u)
            continue;
        value = (value << 4 | hexDigitValue(c)) & 0xFFu;
    }
    return static_cast<std::uint8_t>(value);
}

std::string hexByteText(std::uint8_t value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
    return text;
}

std::optional<std::int32_t> parseDecimalInteger(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    const auto value = parseDecimalInt32(text, PlusSign::Allowed);
    if (!value)
        return std::nullopt;
    return *value;
}

std::string nameFieldText(std::string_view utf8)
{
    std::size_t length = std::min(utf8.size(), PtzProtocol::NameLength);
    // Back off continuation bytes (10xxxxxx) so the cut falls before a character's first byte.
    if (length < utf8.size()) {
        while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0u) == 0x80u)
            --length;
    }
    return std::string(utf8.substr(0, length));
}

} // namespace tolvane
