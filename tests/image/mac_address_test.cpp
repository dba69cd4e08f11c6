#include "core/image/mac_address.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

TEST(MacAddress, HexDigitsOfEveryCharacter)
{
    const std::string lower = "0123456789abcdef";
    const std::string upper = "0123456789ABCDEF";
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        int expected = -1;
        if (const auto at = lower.find(c); at != std::string::npos)
            expected = static_cast<int>(at);
        else if (const auto atUpper = upper.find(c); atUpper != std::string::npos)
            expected = static_cast<int>(atUpper);
        EXPECT_EQ(hexDigitValue(c), expected) << "code " << code;
        EXPECT_EQ(isHexDigit(c), expected >= 0) << "code " << code;
    }
}

struct ParseCase {
    std::string text;
    std::int64_t value;
};

class ParseHexTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseHexTest, LastDigitIsLeastSignificant)
{
    EXPECT_EQ(parseHex(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseHexTest,
                         ::testing::Values(ParseCase{"", 0}, ParseCase{"F", 15},
                                           ParseCase{"10", 16}, ParseCase{"0012AB", 0x12AB},
                                           ParseCase{"34cd56", 0x34CD56},
                                           ParseCase{"12345678", 0x12345678},
                                           ParseCase{"FFFFFFFF", 0xFFFFFFFF},
                                           ParseCase{"123456789", -1}, ParseCase{"12G", -1},
                                           ParseCase{" 1", -1}, ParseCase{"\xB1", -1}));

struct SplitCase {
    std::string text;
    MacPair pair;
};

class SplitMacTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitMacTest, FirstSixAndNextSix)
{
    EXPECT_EQ(splitMacAddress(GetParam().text), GetParam().pair);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitMacTest,
                         ::testing::Values(SplitCase{"0012AB34CD56", {0x0012AB, 0x34CD56}},
                                           SplitCase{"0012ab34cd56", {0x0012AB, 0x34CD56}},
                                           SplitCase{"FFFFFFFFFFFF", {0xFFFFFF, 0xFFFFFF}},
                                           SplitCase{"12345", {0x12345, 0}}, SplitCase{"", {0, 0}},
                                           SplitCase{"1234567", {0x123456, 0x7}},
                                           SplitCase{"0012AB34CD5678", {0x0012AB, 0x34CD56}}));

struct AdvanceCase {
    std::string before;
    std::string after;
};

class AdvanceMacTest : public ::testing::TestWithParam<AdvanceCase> {};

TEST_P(AdvanceMacTest, NextAddressAsText)
{
    EXPECT_EQ(formatMacAddress(advanceMacAddress(splitMacAddress(GetParam().before))),
              GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Addresses, AdvanceMacTest,
                         ::testing::Values(AdvanceCase{"0012ab34cd56", "0012AB34CD57"},
                                           AdvanceCase{"000000FFFFFF", "000001000000"},
                                           AdvanceCase{"FFFFFFFFFFFF", "000000000000"},
                                           AdvanceCase{"00000AFFFFFE", "00000AFFFFFF"},
                                           AdvanceCase{"ABCDEFFFFFFF", "ABCDF0000000"}));

TEST(MacAddress, FormatIsSixUpperCaseDigitsPerHalf)
{
    EXPECT_EQ(formatMacAddress({0xAB, 0x1}), "0000AB000001");
    EXPECT_EQ(formatMacAddress({0xABCDEF, 0xFEDCBA}), "ABCDEFFEDCBA");
    EXPECT_EQ(formatMacAddress({0xFF000001, 0x01000002}), "000001000002");
}

TEST(MacAddress, ValidTextIsTwelveHexDigits)
{
    EXPECT_TRUE(isValidMacText("0012ab34cd56"));
    EXPECT_TRUE(isValidMacText("FFFFFFFFFFFF"));
    EXPECT_FALSE(isValidMacText("0012AB34CD5"));
    EXPECT_FALSE(isValidMacText("0012AB34CD567"));
    EXPECT_FALSE(isValidMacText("0012AB34CG56"));
    EXPECT_FALSE(isValidMacText("0012AB 4CD56"));
    EXPECT_FALSE(isValidMacText("0012AB34CD5\xB6"));
    EXPECT_FALSE(isValidMacText(""));
}

} // namespace
} // namespace tolvane
