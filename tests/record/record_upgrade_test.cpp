// A record of schema version 1, laid out here as that version wrote it, opened by this program.

#include "record_test_support.h"

#include <sqlite3.h>

namespace tolvane::record_test {
namespace {

// Schema version 1 as it stood, with the column types each database was given.
const char* const FirstLayout = R"(
CREATE TABLE units (
    id ID, time TEXT NOT NULL, target TEXT NOT NULL, type TEXT NOT NULL, file TEXT,
    sha256 TEXT, version TEXT, mac TEXT, serial WHOLE, unit TEXT NOT NULL, result TEXT NOT NULL,
    message TEXT NOT NULL, duration_s REAL_NUMBER NOT NULL,
    mac_in_use INTEGER NOT NULL DEFAULT 0 CHECK (mac_in_use IN (0, 1)));
CREATE UNIQUE INDEX units_used_mac ON units (mac) WHERE mac_in_use = 1;
CREATE INDEX units_mac ON units (mac);
CREATE INDEX units_unit ON units (unit);
CREATE INDEX units_time ON units (time);
INSERT INTO units (time, target, type, mac, serial, unit, result, message, duration_s, mac_in_use)
VALUES ('2026-12-08T06:00:00.000Z', '127.0.0.1:5000', 'data', '0012AB000001', 5, 'u1', 'pending', '', 0, 0),
       ('2026-12-08T06:00:01.000Z', '127.0.0.1:5000', 'data', '0012AB000001', 5, 'u1', 'ok', '', 1.5, 1),
       ('2026-12-08T06:00:02.000Z', '127.0.0.1:5001', 'data', '0012AB000002', 5, 'u2', 'ok', '', 1.5, 1),
       ('2026-12-08T06:00:03.000Z', '127.0.0.1:5002', 'data', '0012AB000003', 6, 'u3', 'pending', '', 0, 1),
       ('2026-12-08T06:00:04.000Z', '127.0.0.1:5003', 'data', '0012AB000004', 7, 'u4', 'pending', '', 0, 0),
       ('2026-12-08T06:00:05.000Z', '127.0.0.1:5003', 'data', '0012AB000004', 7, 'u4', 'failed', 'x', 0.5, 0);
)";

struct Upgrade : StoreFixture {
    // The first column of the first row, read past the record.
    std::string value(const std::string& sql)
    {
        std::string error, first;
        if (cluster) {
            const auto rows = cluster->query(database, sql, &error);
            EXPECT_TRUE(rows) << error;
            return rows && !rows->empty() ? (*rows)[0][0].value_or("") : "";
        }
        sqlite3* db = nullptr;
        sqlite3_open(location.c_str(), &db);
        const auto keep = [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0];
            return 0;
        };
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), keep, &first, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
        return first;
    }

    std::string version()
    {
        return value(cluster ? "SELECT schema_version FROM tolvane_record" : "PRAGMA user_version");
    }

    std::string exported(ProductionRecord& record)
    {
        std::string lines;
        for (const auto rows = record.rows({}); const auto& row : rows.value())
            lines += recordLine(row);
        return lines;
    }
};

TEST_P(Upgrade, KeepsEveryRowAndHeldMacAndHoldsTheFirstUnitsSerials)
{
    std::string layout = FirstLayout;
    for (const auto& [word, onFile, onServer] :
         {std::tuple{"ID", "INTEGER PRIMARY KEY", "BIGSERIAL PRIMARY KEY"},
          {"WHOLE", "INTEGER", "BIGINT"},
          {"REAL_NUMBER", "REAL", "DOUBLE PRECISION"}})
        layout.replace(layout.find(word), std::string_view(word).size(),
                       cluster ? onServer : onFile);
    value(cluster ? "SET ROLE tolvane;" + layout +
                        "CREATE TABLE tolvane_record (schema_version INTEGER NOT NULL);"
                        "INSERT INTO tolvane_record VALUES (1); SELECT 1"
                  : layout + "PRAGMA application_id = 1414483030; PRAGMA user_version = 1;");

    // Only to read, it is read as it is and left so.
    RecordOptions readOnly;
    readOnly.readOnly = true;
    auto reader = open(readOnly);
    ASSERT_TRUE(reader);
    const std::string before = exported(*reader);
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 6);
    EXPECT_EQ(reader->units({})->size(), 4u);
    reader.reset();
    EXPECT_EQ(version(), "1");

    auto record = open();
    ASSERT_TRUE(record);
    EXPECT_EQ(version(), "2");
    EXPECT_EQ(exported(*record), before);
    // MACs 1-4 alone, then MACs 5-7 with serials 5-7: who holds each.
    const char* const holders[] = {"u1", "u2", "u3", "", "u1", "u3", ""};
    for (int i = 1; i <= 7; ++i) {
        RecordEntry pending = unitRow("n", "0012AB00000" + std::to_string(i), "pending");
        if (i >= 5)
            pending.serial = static_cast<std::uint32_t>(i);
        const auto reservation = record->reserve(pending, {});
        EXPECT_EQ(reservation.holder ? reservation.holder->unit : "", holders[i - 1])
            << i << " " << reservation.error.text();
    }
}

INSTANTIATE_TEST_SUITE_P(Store, Upgrade, Stores,
                         [](const auto& testCase) { return storeName(testCase.param); });

} // namespace
} // namespace tolvane::record_test
