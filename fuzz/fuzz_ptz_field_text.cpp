// The PTZ editor's reading of its text fields fed any text. Each rule is worked out here another
// way: a hex byte is its last two characters, a decimal integer is what std::from_chars reads
// between the blanks, a name is the longest start of at most 23 bytes not followed by a UTF-8
// continuation byte.
#include "core/ptz/ptz_field_text.h"
#include "fuzz_check.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

unsigned digitOrZero(char c)
{
    const std::string_view digits = "0123456789ABCDEF";
    const auto at = digits.find(c);
    return at == std::string_view::npos ? 0u : static_cast<unsigned>(at);
}

// The last two characters (a character is a byte that does not continue one) give the byte.
std::uint8_t expectedHexByte(std::string_view text)
{
    std::vector<char> characters;
    for (const char c : text) {
        if (!isContinuation(c))
            characters.push_back(c);
    }
    const std::size_t n = characters.size();
    const unsigned high = n >= 2 ? digitOrZero(characters[n - 2]) : 0u;
    const unsigned low = n >= 1 ? digitOrZero(characters[n - 1]) : 0u;
    return static_cast<std::uint8_t>(high << 4 | low);
}

std::optional<std::int32_t> expectedInteger(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    if (magnitude > (negative ? 2147483648u : 2147483647u))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
}

std::size_t expectedNameLength(std::string_view text)
{
    for (std::size_t length = std::min<std::size_t>(text.size(), 23); length > 0; --length) {
        if (length == text.size() || !isContinuation(text[length]))
            return length;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    FUZZ_CHECK(lenientHexByte(text) == expectedHexByte(text));
    if (size > 0) {
        const std::string hex = hexByteText(data[0]);
        FUZZ_CHECK(hex.size() == 2 &&
                   hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        FUZZ_CHECK(lenientHexByte(hex) == data[0]);
    }

    const auto integer = parseDecimalInteger(text);
    FUZZ_CHECK(integer == expectedInteger(text));
    if (integer)
        FUZZ_CHECK(parseDecimalInteger(std::to_string(*integer)) == integer);

    const std::string name = nameFieldText(text);
    FUZZ_CHECK(name.size() == expectedNameLength(text));
    FUZZ_CHECK(text.substr(0, name.size()) == name);
    return 0;
}
