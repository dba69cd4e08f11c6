// The one decimal reader: digits only, the largest value and digit count a caller allows, and
// "not a number" (EINVAL) told apart from "out of range" (ERANGE).
#include "core/base/decimal_text.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace tolvane {
namespace {

constexpr std::uint64_t Most = 18446744073709551615ULL;

TEST(DecimalText, UnsignedEdges)
{
    const struct {
        const char* text;
        std::uint64_t maximum;
        std::size_t maxDigits;
        std::uint64_t value; // when error is 0
        int error;
    } cases[] = {
        {"0", 0, AnyDigitCount, 0, 0},
        {"007", 255, 3, 7, 0},
        {"0007", 255, 3, 0, ERANGE},
        {"255", 255, 3, 255, 0},
        {"256", 255, 3, 0, ERANGE},
        {"18446744073709551615", Most, AnyDigitCount, Most, 0},
        {"18446744073709551616", Most, AnyDigitCount, 0, ERANGE},
        {"99999999999999999999999", Most, AnyDigitCount, 0, ERANGE},
        {"000000000000000000000000001", 1, AnyDigitCount, 1, 0},
        {"99999999999999999999999x", Most, AnyDigitCount, 0, EINVAL},
        {"", Most, AnyDigitCount, 0, EINVAL},
        {"+1", Most, AnyDigitCount, 0, EINVAL},
        {" 1", Most, AnyDigitCount, 0, EINVAL},
        {"-0", Most, AnyDigitCount, 0, EINVAL},
    };
    for (const auto& c : cases) {
        const auto value = parseDecimal(c.text, c.maximum, c.maxDigits);
        EXPECT_EQ(value ? 0 : value.failure().error, c.error) << '"' << c.text << '"';
        if (value) {
            EXPECT_EQ(*value, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(DecimalText, SignedEdges)
{
    const struct {
        const char* text;
        PlusSign plus;
        std::size_t maxDigits;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"-2147483648", PlusSign::Refused, AnyDigitCount, -2147483647 - 1},
        {"-2147483649", PlusSign::Refused, AnyDigitCount, std::nullopt},
        {"2147483648", PlusSign::Allowed, AnyDigitCount, std::nullopt},
        {"+2147483647", PlusSign::Allowed, AnyDigitCount, 2147483647},
        {"+5", PlusSign::Refused, AnyDigitCount, std::nullopt},
        {"+-5", PlusSign::Allowed, AnyDigitCount, std::nullopt},
        {"--5", PlusSign::Refused, AnyDigitCount, std::nullopt},
        {"-00005", PlusSign::Refused, 5, -5},
        {"-000005", PlusSign::Refused, 5, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = parseDecimalInt32(c.text, c.plus, c.maxDigits);
        EXPECT_EQ(value ? std::optional(*value) : std::nullopt, c.value) << '"' << c.text << '"';
    }
}

} // namespace
} // namespace tolvane
