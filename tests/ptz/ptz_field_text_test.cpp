#include "core/ptz/ptz_field_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tolvane {
namespace {

TEST(PtzFieldText, HexFieldsReadLeniently)
{
    const struct {
        const char* text;
        unsigned byte;
    } cases[] = {
        {"", 0x00},   {"F", 0x0F},  {"G5", 0x05},  {"5G", 0x50}, {"7E", 0x7E},        {"0A", 0x0A},
        {"a1", 0x01}, {"ZZ", 0x00}, {"123", 0x23}, {" 9", 0x09}, {"5\xC3\xA9", 0x50},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lenientHexByte(c.text), c.byte) << '"' << c.text << '"';
}

TEST(PtzFieldText, DecimalIntegers)
{
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"9600", 9600},
        {" \t42\t ", 42},
        {"-7", -7},
        {"+7", 7},
        {"0007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"\n5", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDecimalInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(PtzFieldText, NamesAreCutToTheFieldOnACharacterBoundary)
{
    const struct {
        std::string text;
        std::string stored;
    } cases[] = {
        {"Pelco-D", "Pelco-D"},
        {std::string(30, 'x'), std::string(23, 'x')},
        {std::string(23, 'y'), std::string(23, 'y')},
        // 22 ASCII bytes, then "é" (C3 A9) would end at byte 24: it is left out whole.
        {std::string(22, 'z') + "\xC3\xA9", std::string(22, 'z')},
        {std::string(21, 'z') + "\xC3\xA9" + "q", std::string(21, 'z') + "\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nameFieldText(c.text), c.stored) << c.text;
}

} // namespace
} // namespace tolvane
