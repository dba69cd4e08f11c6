// The record's rule for a time: the calendar's days, no hour 24, no second 60. Expected instants
// are `date -u -d TIME +%s`.
#include "record/record_entry.h"

#include <gtest/gtest.h>

namespace tolvane::record {
namespace {

TEST(RecordTime, SecondsOfTheCalendarOnly)
{
    const struct {
        const char* text;
        std::optional<std::int64_t> epochSeconds;
    } cases[] = {
        {"2024-02-29T23:59:59", 1709251199},   {"2000-02-29T00:00:00", 951782400},
        {"0000-01-01T00:00:00", -62167219200}, {"9999-12-31T23:59:59", 253402300799},
        {"2024-02-29T23:59:60", std::nullopt}, {"2024-02-29T23:60:00", std::nullopt},
        {"2024-02-29T24:00:00", std::nullopt}, {"2023-02-29T00:00:00", std::nullopt},
        {"1900-02-29T00:00:00", std::nullopt}, {"2024-00-10T00:00:00", std::nullopt},
        {"2024-13-10T00:00:00", std::nullopt}, {"2024-01-00T00:00:00", std::nullopt},
        {"2024-+1-10T00:00:00", std::nullopt}, {"2024-01-10T-1:00:00", std::nullopt},
        {"2024-01-10 00:00:00", std::nullopt}, {"1677-09-21T00:12:44", -9223372036},
        {"2262-04-11T23:47:16", 9223372036},
    };
    for (const auto& c : cases) {
        const auto second = parseIsoUtcSecond(c.text);
        ASSERT_EQ(second.has_value(), c.epochSeconds.has_value()) << c.text;
        if (second) {
            EXPECT_EQ(second->time_since_epoch().count(), *c.epochSeconds) << c.text;
        }
        // The record's own form goes by the same rule, within the seconds the nanosecond system
        // clock holds with any milliseconds added: -9223372036 to 9223372035.
        const auto time = parseIsoUtcTime(std::string(c.text) + ".250Z");
        const bool clockHoldsIt =
            c.epochSeconds && *c.epochSeconds >= -9'223'372'036 && *c.epochSeconds <= 9'223'372'035;
        EXPECT_EQ(time.has_value(), clockHoldsIt) << c.text;
        if (time) {
            EXPECT_EQ(time->time_since_epoch(),
                      std::chrono::seconds(*c.epochSeconds) + std::chrono::milliseconds(250));
        }
    }
    EXPECT_FALSE(parseIsoUtcTime("2024-02-29T23:59:59.25Z "));
    EXPECT_FALSE(parseIsoUtcTime("2024-02-29T23:59:59.-25Z"));
}

} // namespace
} // namespace tolvane::record
