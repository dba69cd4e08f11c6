#include "core/download/target_address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tolvane {
namespace {

std::optional<std::string> valueOf(const Result<std::string>& address)
{
    return address ? std::optional<std::string>(*address) : std::nullopt;
}

struct AddressCase {
    const char* text;
    const char* lenient; // the main window's reading; nullptr: refused
    const char* strict;  // the command line's reading; nullptr: refused
};

// One table for both forms: what each takes, and the plain text it gives.
TEST(TargetAddress, RecorderAddressesInBothForms)
{
    const AddressCase cases[] = {
        {"127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"223.255.255.254", "223.255.255.254", "223.255.255.254"},
        {"1.0.0.0", "1.0.0.0", "1.0.0.0"},
        {"127.000.000.001", "127.0.0.1", nullptr}, // leading zeros: octal to some readers
        {"127.0.0.010", "127.0.0.10", nullptr},
        {" 127.1.2.3\t", "127.1.2.3", nullptr},
        {"0.0.0.0", nullptr, nullptr},         // no host
        {"000.000.000.000", nullptr, nullptr}, // the same, written long
        {"224.0.0.0", nullptr, nullptr},       // first multicast group
        {"239.255.255.250", nullptr, nullptr},
        {"240.0.0.1", nullptr, nullptr},       // reserved
        {"255.255.255.255", nullptr, nullptr}, // broadcast
        {"256.1.1.1", nullptr, nullptr},
        {"1.2.3", nullptr, nullptr},
        {"1.2.3.4.5", nullptr, nullptr},
        {"1..2.3", nullptr, nullptr},
        {"1.2.3.-4", nullptr, nullptr},
        {"1.2.3.0004", nullptr, nullptr},
        {"a.b.c.d", nullptr, nullptr},
        {"\xD9\xA1.\xD9\xA2.\xD9\xA3.\xD9\xA4", nullptr, nullptr}, // Arabic-Indic digits
        {"", nullptr, nullptr},
    };
    for (const AddressCase& c : cases) {
        const auto lenient = valueOf(parseRecorderAddress(c.text, AddressForm::Lenient));
        const auto strict = valueOf(parseRecorderAddress(c.text, AddressForm::Strict));
        EXPECT_EQ(lenient, c.lenient ? std::optional<std::string>(c.lenient) : std::nullopt)
            << '"' << c.text << '"';
        EXPECT_EQ(strict, c.strict ? std::optional<std::string>(c.strict) : std::nullopt)
            << '"' << c.text << '"';
    }
}

TEST(TargetAddress, HostAndOptionalPort)
{
    const char* const general = "not an IPv4 address with an optional port";
    const char* const range = "the port must be 1 to 65535";
    const char* const zero = "a port with a leading zero";
    const struct {
        const char* text;
        const char* address; // nullptr: refused
        std::uint16_t port;
        const char* why = nullptr; // for a refused one: the reason, nullptr for any
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", 5000},
        {"127.0.0.1:6001", "127.0.0.1", 6001},
        {"127.0.0.1:1", "127.0.0.1", 1},
        {"127.0.0.1:10", "127.0.0.1", 10},
        {"223.255.255.254:65535", "223.255.255.254", 65535},
        {"127.0.0.01", nullptr, 0, "an address with a leading zero in a number"},
        {"127.0.0.1:0", nullptr, 0, range},
        {"127.0.0.1:65536", nullptr, 0, range},
        {"127.0.0.1:99999", nullptr, 0, range},
        {"127.0.0.1:123456", nullptr, 0, range},
        {"127.0.0.1:99999999999999999999999", nullptr, 0, range},
        {"127.0.0.1:05000", nullptr, 0, zero}, // as an address's numbers: one target, one text
        {"127.0.0.1:00", nullptr, 0, zero},
        {"127.0.0.1:065535", nullptr, 0, zero},
        {"127.0.0.1:", nullptr, 0, general},
        {"127.0.0.1:50a", nullptr, 0, general},
        {"127.0.0.1:-1", nullptr, 0, general},
        {"127.0.0.1:+80", nullptr, 0, general},
        {"127.0.0.1:80:80", nullptr, 0, general},
        {"239.255.255.250:1900", nullptr, 0},
        {"localhost", nullptr, 0, general},
        {" 127.0.0.1", nullptr, 0, general},
    };
    for (const auto& c : cases) {
        const auto target = parseTarget(c.text);
        ASSERT_EQ(target.ok(), c.address != nullptr) << c.text;
        if (target) {
            EXPECT_EQ(target->address, c.address);
            EXPECT_EQ(target->port, c.port);
            EXPECT_EQ(targetText(*target), std::string(c.address) + ":" + std::to_string(c.port));
        } else {
            const std::string why = target.failure().text();
            EXPECT_FALSE(why.empty()) << c.text;
            if (c.why) {
                EXPECT_EQ(why, c.why) << c.text;
            }
        }
    }
}

TEST(TargetAddress, UnsignedDecimals)
{
    const struct {
        const char* text;
        std::uint32_t max;
        std::optional<std::uint32_t> value;
    } cases[] = {
        {"5000", 65535, 5000},
        {"65535", 65535, 65535},
        {"65536", 65535, std::nullopt},
        {" 42 ", 65535, 42},
        {"+1", 65535, std::nullopt},
        {"1 2", 65535, std::nullopt},
        {"", 65535, std::nullopt},
        {"0", 65535, 0},
        {"4294967295", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu, std::nullopt},
        {"99999999999", 0xFFFFFFFFu, std::nullopt},
        {"\xD9\xA3", 65535, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseUnsignedDecimal(c.text, c.max), c.value) << '"' << c.text << '"';
}

} // namespace
} // namespace tolvane
