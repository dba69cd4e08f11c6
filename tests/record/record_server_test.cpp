// The record on a PostgreSQL server: the databases and logins it refuses, and a server that stops
// under it. The database is read back through libpq as the superuser, not through the record.

#include "record_test_support.h"

#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

namespace tolvane::record_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ServerRecord : RecordFixture {
    void SetUp() override { useServer(); }

    test::SqlRows sql(const std::string& statement)
    {
        std::string error;
        auto rows = cluster->query(database, statement, &error);
        EXPECT_TRUE(rows) << error;
        return rows.value_or(test::SqlRows{});
    }

    int unitRows()
    {
        const auto rows = sql("SELECT count(*) FROM units");
        return rows.empty() ? -1 : std::stoi(rows[0][0].value_or("-1"));
    }

    // Every table of the database with its rows, as text.
    std::string contents()
    {
        std::string text;
        for (const auto& table :
             sql("SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1")) {
            text += *table[0] + ":";
            for (const auto& row : sql("SELECT * FROM " + *table[0] + " ORDER BY 1"))
                for (const auto& value : row)
                    text += " " + value.value_or("NULL");
            text += "\n";
        }
        return text;
    }
};

struct RefusalCase {
    const char* name;
    std::function<void(ServerRecord&)> prepare;
    std::optional<std::string> password; // PGPASSWORD, when not the role's own
    std::string credentials;             // put in the location before '@'
    const char* said;                    // part of the message
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

const RefusalCase RefusalCases[] = {
    {"WrongPassword", {}, "wrong-password", "", "password authentication failed"},
    {"WrongPasswordInTheLocation", {}, std::nullopt, ":wrong-password", "password authentication"},
    {"AnotherProgramsUnitsTable",
     [](ServerRecord& f) { f.sql("CREATE TABLE units (name TEXT, phone TEXT)"); }, std::nullopt, "",
     "is not a Tolvane production record"},
    {"NewerSchema",
     [](ServerRecord& f) {
         f.sql("SET ROLE tolvane; CREATE TABLE units (id BIGINT); CREATE TABLE tolvane_record "
               "(schema_version INTEGER NOT NULL); INSERT INTO tolvane_record VALUES (2)");
     },
     std::nullopt, "", "schema version 2"},
};

class ServerRefusal : public ServerRecord, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServerRefusal, SaysWhyNamesTheServerWithoutPasswordAndWritesNothing)
{
    const RefusalCase& refusal = GetParam();
    if (refusal.prepare)
        refusal.prepare(*this);
    const std::string before = contents();
    const std::string shown = location;
    std::string withCredentials = location;
    withCredentials.insert(withCredentials.find('@'), refusal.credentials);
    std::optional<test::ScopedEnvironment> password;
    if (refusal.password)
        password.emplace("PGPASSWORD", *refusal.password);

    std::string error;
    EXPECT_FALSE(openProductionRecord(withCredentials, &error));
    EXPECT_THAT(error, HasSubstr(refusal.said));
    EXPECT_THAT(error, HasSubstr(shown));
    EXPECT_THAT(error, Not(HasSubstr("wrong-password")));
    EXPECT_EQ(contents(), before);
}

INSTANTIATE_TEST_SUITE_P(Server, ServerRefusal, ::testing::ValuesIn(RefusalCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

std::string macNumber(int i)
{
    char text[16];
    std::snprintf(text, sizeof text, "0012AB%06X", i & 0xFFFFFF);
    return text;
}

TEST_F(ServerRecord, StoppedServerFailsReservationsAndOutcomesAndKeepsEveryReservedMacsRow)
{
    auto record = open();
    ASSERT_TRUE(record);
    // One bench reserves MAC after MAC while the server stops under it.
    std::vector<std::string> reserved;
    Reservation refused;
    std::atomic<bool> giveUp{false};
    std::jthread bench([&] {
        for (int i = 0; !giveUp; ++i) {
            const auto reservation = record->reserveMac(
                unitRow("u" + std::to_string(i), macNumber(i), "pending"), false);
            if (reservation.status != Reservation::Status::Reserved) {
                refused = reservation;
                return;
            }
            reserved.push_back(macNumber(i));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && unitRows() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string error;
    const bool stopped = cluster->stopServer(&error);
    giveUp = true;
    bench.join();
    ASSERT_TRUE(stopped) << error;

    EXPECT_EQ(refused.status, Reservation::Status::Failed);
    EXPECT_THAT(refused.error, HasSubstr(location));
    error.clear();
    EXPECT_FALSE(record->writeOutcome(unitRow("u0", macNumber(0), "ok"), &error));
    EXPECT_THAT(error, HasSubstr(location));
    record.reset();

    ASSERT_TRUE(cluster->startServer(&error)) << error;
    std::set<std::string> held;
    for (const auto& row : sql("SELECT mac FROM units WHERE result = 'pending' AND mac_in_use = 1"))
        held.insert(*row[0]);
    EXPECT_GE(reserved.size(), 20u);
    for (const auto& mac : reserved)
        EXPECT_TRUE(held.count(mac)) << mac << " was reported reserved without its pending row";
    // At most the one whose commit reached the server as it stopped, reported failed.
    EXPECT_LE(held.size(), reserved.size() + 1);
    EXPECT_EQ(unitRows(), static_cast<int>(held.size()));
}

} // namespace
} // namespace tolvane::record_test
