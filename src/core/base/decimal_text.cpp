#include "core/base/decimal_text.h"

#include <algorithm>
#include <cerrno>

namespace tolvane {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

Result<std::uint64_t> parseDecimal(std::string_view text, std::uint64_t maximum,
                                   std::size_t maxDigits)
{
    // Every character is looked at before the size: "99999999999x" is no number at all.
    if (text.empty() || !std::all_of(text.begin(), text.end(), isDigit))
        return Failure(EINVAL, "not a decimal number");
    if (text.size() > maxDigits)
        return Failure(ERANGE, "too many digits");
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        // Stops before value * 10 + digit could pass maximum, or wrap past 2^64.
        if (digit > maximum || value > (maximum - digit) / 10)
            return Failure(ERANGE, "a number over " + std::to_string(maximum));
        value = value * 10 + digit;
    }
    return value;
}

Result<std::int32_t> parseDecimalInt32(std::string_view text, PlusSign plus, std::size_t maxDigits)
{
    const bool negative = text.starts_with('-');
    if (negative || (plus == PlusSign::Allowed && text.starts_with('+')))
        text.remove_prefix(1);
    const std::uint64_t most = negative ? 2147483648ULL : 2147483647ULL;
    const auto magnitude = parseDecimal(text, most, maxDigits);
    if (!magnitude)
        return magnitude.failure();
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*magnitude)
                                              : static_cast<std::int64_t>(*magnitude));
}

} // namespace tolvane
