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

std::string replaced(std::string text,
                     const std::vector<std::pair<std::string, std::string>>& words)
{
    for (const auto& [word, by] : words)
        text.replace(text.find(word), word.size(), by);
    return text;
}

struct Upgrade : StoreFixture {
    // The first column of the first row, read past the record.
    std::string value(const std::string& sql)
    {
        if (cluster) {
            std::string error;
            const auto rows = cluster->query(database, sql, &error);
            EXPECT_TRUE(rows) << error;
            return rows && !rows->empty() ? (*rows)[0][0].value_or("NULL") : "";
        }
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(location.c_str(), &db), SQLITE_OK);
        std::string first;
        char* message = nullptr;
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "NULL";
                return 0;
            },
            &first, &message);
        EXPECT_EQ(message, nullptr) << message;
        sqlite3_free(message);
        sqlite3_close(db);
        return first;
    }

    std::string version()
    {
        return value(cluster ? "SELECT schema_version FROM tolvane_record" : "PRAGMA user_version");
    }

    std::string exported(ProductionRecord& record)
    {
        const auto rows = record.rows({});
        EXPECT_TRUE(rows) << failureText(rows);
        std::string lines;
        for (const auto& row : rows.value())
            lines += recordLine(row);
        return lines;
    }
};

TEST_P(Upgrade, KeepsEveryRowAndHeldMacAndHoldsTheFirstUnitsSerials)
{
    if (cluster)
        value("SET ROLE tolvane;" +
              replaced(FirstLayout, {{"ID", "BIGSERIAL PRIMARY KEY"},
                                     {"WHOLE", "BIGINT"},
                                     {"REAL_NUMBER", "DOUBLE PRECISION"}}) +
              "CREATE TABLE tolvane_record (schema_version INTEGER NOT NULL);"
              "INSERT INTO tolvane_record VALUES (1); SELECT 1");
    else
        value(replaced(
                  FirstLayout,
                  {{"ID", "INTEGER PRIMARY KEY"}, {"WHOLE", "INTEGER"}, {"REAL_NUMBER", "REAL"}}) +
              "PRAGMA application_id = 1414483030; PRAGMA user_version = 1;");

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
    const std::vector<std::pair<RecordEntry, std::string>> reservations = {
        {unitRow("n1", "0012AB000001", "pending"), "u1"},
        {unitRow("n2", "0012AB000002", "pending"), "u2"},
        {unitRow("n3", "0012AB000003", "pending"), "u3"},
        {unitRow("n4", "0012AB000004", "pending"), ""},
        {unitRow("n5", "0012AB000005", "pending"), "u1"}, // serial 5: the first ok unit's
        {unitRow("n6", "0012AB000006", "pending"), "u3"}, // serial 6: held by the pending unit
        {unitRow("n7", "0012AB000007", "pending"), ""},   // serial 7: its unit failed
    };
    for (std::size_t i = 0; i < reservations.size(); ++i) {
        RecordEntry pending = reservations[i].first;
        pending.serial = i < 4 ? std::nullopt : std::optional<std::uint32_t>(i + 1);
        const auto reservation = record->reserve(pending, {});
        EXPECT_EQ(reservation.holder ? reservation.holder->unit : "", reservations[i].second)
            << pending.unit << " " << reservation.error.text();
    }
}

INSTANTIATE_TEST_SUITE_P(Store, Upgrade, Stores,
                         [](const auto& testCase) { return storeName(testCase.param); });

} // namespace
} // namespace tolvane::record_test
