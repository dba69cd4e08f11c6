// The MAC address rules fed any text, each worked out another way: a valid address is twelve
// characters isxdigit accepts; a hex value is what std::from_chars reads; an address split,
// formatted and advanced behaves as one 48-bit number that wraps.
#include "core/image/mac_address.h"
#include "fuzz_check.h"

#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

namespace {

bool allHex(std::string_view text)
{
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0)
            return false;
    }
    return true;
}

std::uint64_t hexValue(std::string_view text)
{
    std::uint64_t value = 0;
    if (!text.empty())
        std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::int64_t parsed = parseHex(text);
    if (size <= 8 && allHex(text))
        FUZZ_CHECK(parsed == static_cast<std::int64_t>(hexValue(text)));
    else
        FUZZ_CHECK(parsed == -1);

    const bool valid = isValidMacText(text);
    FUZZ_CHECK(valid == (size == 12 && allHex(text)));

    const MacPair pair = splitMacAddress(text);
    FUZZ_CHECK(pair.upper <= 0xFFFFFF && pair.lower <= 0xFFFFFF);
    const std::string formatted = formatMacAddress(pair);
    FUZZ_CHECK(isValidMacText(formatted) && formatted == upper(formatted));
    FUZZ_CHECK(splitMacAddress(formatted) == pair);
    if (!valid)
        return 0;

    FUZZ_CHECK(formatted == upper(text));
    const std::uint64_t number = hexValue(text);
    FUZZ_CHECK((std::uint64_t{pair.upper} << 24 | pair.lower) == number);
    const MacPair next = advanceMacAddress(pair);
    FUZZ_CHECK((std::uint64_t{next.upper} << 24 | next.lower) == ((number + 1) & 0xFFFFFFFFFFFFu));
    return 0;
}
