#pragma once

#include "record/production_record.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane::record_test {

using namespace tolvane::record;

// A unit's row as the download command writes it, at a fixed time.
inline RecordEntry unitRow(const std::string& unit, const std::optional<std::string>& mac,
                           const std::string& result)
{
    RecordEntry entry;
    entry.time = std::chrono::sys_days(std::chrono::year(2026) / 12 / 8) + std::chrono::hours(6);
    entry.target = "127.0.0.1:5000";
    entry.type = "data";
    entry.mac = mac;
    entry.unit = unit;
    entry.result = result;
    entry.message = result == "failed" ? "Can't connect" : "";
    return entry;
}

// A record in a fresh folder; fails the test when it cannot be opened.
struct RecordFixture : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.file("units.db");

    std::unique_ptr<ProductionRecord> open(RecordOptions options = {})
    {
        std::string error;
        auto record = openProductionRecord(path, &error, options);
        EXPECT_TRUE(record) << error;
        return record;
    }
};

} // namespace tolvane::record_test
