// The record's file: what it refuses to open, and what goes in and out of it.

#include "record/record_entry.h"
#include "record_test_support.h"
#include "support/child_process.h"
#include "support/file_io.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

namespace tolvane::record_test {
namespace {

// Runs SQL on a database file the way another program would.
void runSql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

struct BadRecordCase {
    const char* name;
    std::function<void(const std::string& path)> prepare;
    const char* said; // part of the message
    bool readOnly = false;
};

void PrintTo(const BadRecordCase& c, std::ostream* out)
{
    *out << c.name;
}

const BadRecordCase BadRecordCases[] = {
    {"TextFile",
     [](const std::string& path) {
         test::writeFileBytes(path, {'h', 'e', 'l', 'l', 'o', '\n'});
     },
     "is not a Tolvane production record"},
    {"AnotherProgramsDatabase",
     [](const std::string& path) { runSql(path, "CREATE TABLE contacts (name TEXT);"); },
     "is not a Tolvane production record"},
    {"NewerSchema",
     [](const std::string& path) {
         runSql(path, "CREATE TABLE units (id INTEGER);PRAGMA application_id = 1414483030;"
                      "PRAGMA user_version = 3;");
     },
     "schema version 3"},
    {"Folder", [](const std::string& path) { ::mkdir(path.c_str(), 0755); },
     "is not a regular file"},
    {"EmptyFileOnlyToRead", [](const std::string& path) { test::writeFileBytes(path, {}); },
     "is not a Tolvane production record", true},
};

class BadRecord : public RecordFixture, public ::testing::WithParamInterface<BadRecordCase> {};

TEST_P(BadRecord, IsRefusedAndLeftAsItWas)
{
    GetParam().prepare(location);
    struct stat before {};
    ::stat(location.c_str(), &before);
    const auto bytes =
        S_ISREG(before.st_mode) ? test::readFileBytes(location) : std::vector<std::uint8_t>{};

    RecordOptions options;
    options.readOnly = GetParam().readOnly;
    const auto opened = openProductionRecord(location, options);
    const std::string error = failureText(opened);
    EXPECT_FALSE(opened);
    EXPECT_NE(error.find(GetParam().said), std::string::npos) << error;
    if (S_ISREG(before.st_mode)) {
        EXPECT_EQ(test::readFileBytes(location), bytes);
    }
    EXPECT_EQ(dir.entryCount(), 1u) << "no journal or WAL file left beside it";
}

INSTANTIATE_TEST_SUITE_P(Files, BadRecord, ::testing::ValuesIn(BadRecordCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(RecordFixture, JsonLinesPathIsSentToImport)
{
    const auto opened = openProductionRecord(dir.file("units.jsonl"));
    const std::string error = failureText(opened);
    EXPECT_FALSE(opened);
    EXPECT_NE(error.find("record import"), std::string::npos) << error;
    EXPECT_EQ(dir.entryCount(), 0u);
}

TEST_F(RecordFixture, LockedReadOnlyFullOrKilledRecordsKeepTheirRows)
{
    ASSERT_TRUE(open());
    {
        // Another program holds the write lock longer than this one waits.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(location.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        const auto opened = openProductionRecord(location, {std::chrono::milliseconds(100)});
        const std::string error = failureText(opened);
        EXPECT_FALSE(opened);
        EXPECT_NE(error.find("locked"), std::string::npos) << error;
        sqlite3_close(other);
    }
    ASSERT_EQ(::chmod(location.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const int readOnly = test::runAsOrdinaryUser([&] {
        const auto opened = openProductionRecord(location);
        return !opened && failureText(opened).find("read-only") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(readOnly, 0);
    ASSERT_EQ(::chmod(location.c_str(), 0644), 0);

    // The disk fills as the reservation is written: it fails, and no row is left.
    auto record = open();
    ASSERT_TRUE(record);
    record.reset();
    const int full = test::runWithFileSizeLimit(0, [&] {
        auto limited = openProductionRecord(location);
        if (!limited)
            return failureText(limited).empty() ? 1 : 0;
        const auto reservation = (*limited)->reserve(unitRow("u1", "0012AB000001", "pending"), {});
        return reservation.status == Reservation::Status::Failed &&
                       !reservation.error.text().empty()
                   ? 0
                   : 1;
    });
    EXPECT_EQ(full, 0);
    auto after = open();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->rows({})->empty());
    ASSERT_EQ(after->reserve(unitRow("u1", "0012AB000001", "pending"), {}).status,
              Reservation::Status::Reserved);
    after.reset();

    // Killed in the middle of writing a reservation: the record keeps the rows it had.
    EXPECT_TRUE(test::killAtFileSizeLimit(4096, [&] {
        if (auto killed = openProductionRecord(location))
            (*killed)->reserve(unitRow("u2", "0012AB000002", "pending"), {});
    }));
    auto survived = open();
    ASSERT_TRUE(survived);
    const auto rows = survived->rows({});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ((*rows)[0].unit, "u1");
}

TEST_F(RecordFixture, InAReadOnlyFolderIsReadAndSaysReadOnlyToWriters)
{
    ASSERT_EQ(open()->reserve(unitRow("u1", "0012AB000001", "pending"), {}).status,
              Reservation::Status::Reserved);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    const int status = test::runAsOrdinaryUser([&] {
        RecordOptions readOnly;
        readOnly.readOnly = true;
        const auto reader = openProductionRecord(location, readOnly);
        const bool read = reader && (*reader)->rows({})->size() == 1;
        const std::string writing = failureText(openProductionRecord(location));
        const std::string creating = failureText(openProductionRecord(dir.file("new.db")));
        return read && writing.ends_with("its folder " + dir.path() + " is read-only") &&
                       creating.ends_with("its folder " + dir.path() + " is read-only")
                   ? 0
                   : 1;
    });
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dir.entryCount(), 1u);
}

TEST_F(RecordFixture, ExportedLinesImportAsTheSameRowsAndDuplicatesAreReported)
{
    // An earlier JSON-lines record, written by hand: u1 succeeded, u2 failed, and u3 got u1's MAC.
    const std::string lines =
        R"({"time":"2026-12-08T06:00:00.000Z","target":"127.0.0.1:5000","type":"data","file":null,"sha256":null,"version":null,"mac":"0012AB000001","serial":7,"unit":"u1","result":"pending","message":"","duration_s":0.0})"
        "\n"
        R"({"time":"2026-12-08T06:00:01.250Z","target":"127.0.0.1:5000","type":"data","file":null,"sha256":null,"version":null,"mac":"0012AB000001","serial":7,"unit":"u1","result":"ok","message":"","duration_s":1.25})"
        "\n"
        R"({"time":"2026-12-08T06:00:02.000Z","target":"127.0.0.1:5001","type":"app","file":"a,\"b\".bin","sha256":"ab","version":"3.5.1","mac":null,"serial":null,"unit":"u2","result":"failed","message":"Can't connect","duration_s":0.5})"
        "\n"
        R"({"time":"2026-12-08T06:00:03.000Z","target":"127.0.0.1:5002","type":"data","file":null,"sha256":null,"version":null,"mac":"0012AB000001","serial":null,"unit":"u3","result":"ok","message":"","duration_s":1.0})"
        "\n";
    std::vector<RecordEntry> parsed;
    std::size_t start = 0;
    for (std::size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto entry = parseRecordLine(std::string_view(lines).substr(start, end - start));
        ASSERT_TRUE(entry) << failureText(entry);
        parsed.push_back(*entry);
    }

    auto record = open();
    ASSERT_TRUE(record);
    const auto report = record->importRows(parsed);
    ASSERT_TRUE(report) << failureText(report);
    EXPECT_EQ(report->rows, 4u);
    ASSERT_EQ(report->duplicates.size(), 1u);
    EXPECT_NE(report->duplicates[0].find("u3"), std::string::npos);
    EXPECT_NE(report->duplicates[0].find("u1"), std::string::npos);

    const auto rows = record->rows({});
    ASSERT_TRUE(rows) << failureText(rows);
    std::string exported;
    for (const auto& row : *rows)
        exported += recordLine(row);
    EXPECT_EQ(exported, lines);
    EXPECT_EQ(csvRow((*rows)[2]), "2026-12-08T06:00:02.000Z,127.0.0.1:5001,app,\"a,\"\"b\"\".bin\","
                                  "ab,3.5.1,,,u2,failed,Can't connect,0.500,,,\r\n");

    RecordFilter filter;
    filter.mac = "0012AB000001";
    filter.since = parseIsoUtcTime("2026-12-08T06:00:01.250Z");
    const auto selected = record->rows(filter);
    ASSERT_TRUE(selected) << failureText(selected);
    ASSERT_EQ(selected->size(), 2u);
    EXPECT_EQ((*selected)[0].unit, "u1");
    EXPECT_EQ((*selected)[1].unit, "u3");
    // u1 holds the MAC, not the duplicate.
    EXPECT_EQ(record->reserve(unitRow("u4", "0012AB000001", "pending"), {}).holder->unit, "u1");
}

} // namespace
} // namespace tolvane::record_test

namespace tolvane::record_test {
namespace {

// A server that cannot be reached is told with its location, never with a password in it.
TEST(ServerLocation, MessagesNeverShowThePassword)
{
    for (const std::string location :
         {"postgresql://bench:secret@/units?host=/nonexistent-socket-folder",
          "postgresql://bench:se@cret@/units?host=/nonexistent-socket-folder",
          "postgres://bench@/units?host=/nonexistent-socket-folder&password=secret",
          "host=/nonexistent-socket-folder dbname=units password=secret",
          "postgresql://bench:se?cret@/units?host=/nonexistent-socket-folder",
          "postgres://bench@/units?host=/nonexistent-socket-folder&password=se cret",
          "postgres://bench@/units?host=/nonexistent-socket-folder&pass%77ord=secret",
          "host=/nonexistent-socket-folder dbname=units password = secret",
          "host=/nonexistent-socket-folder password='se cret' dbname=units",
          "host=/nonexistent-socket-folder dbname=units password=se\\ cret",
          "host=/nonexistent-socket-folder dbname=units password='se cret"}) {
        const auto opened = openProductionRecord(location);
        const std::string error = failureText(opened);
        EXPECT_FALSE(opened);
        EXPECT_NE(error.find("cannot connect to record"), std::string::npos) << error;
        EXPECT_NE(error.find("/nonexistent-socket-folder"), std::string::npos) << error;
        EXPECT_EQ(error.find("secret"), std::string::npos) << error;
        EXPECT_EQ(error.find("cret"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

} // namespace
} // namespace tolvane::record_test
