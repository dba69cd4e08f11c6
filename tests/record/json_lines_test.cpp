// Records of the earlier JSON-lines form: which MAC addresses they leave used once imported.

#include "record/json_lines.h"
#include "record_test_support.h"

namespace tolvane::record_test {
namespace {

struct ImportCase {
    const char* name;
    std::string content; // written by hand
    bool used;           // whether 0012AB34CD56 counts as used
};

void PrintTo(const ImportCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string line(const char* mac, const char* result, const char* unit)
{
    return std::string(R"({"time":"2026-12-08T06:00:00.000Z","mac":")") + mac +
           R"(","serial":null,"unit":")" + unit + R"(","result":")" + result + "\"}\n";
}

const ImportCase ImportCases[] = {
    {"Empty", "", false},
    {"Ok", line("0012AB34CD56", "ok", "a"), true},
    {"OkInLowerCase", line("0012ab34cd56", "ok", "a"), true},
    {"OkWithColons", line("00:12:ab:34:cd:56", "ok", "a"), true},
    {"OkWithDashes", line("00-12-AB-34-CD-56", "ok", "a"), true},
    {"OkInWholeSeconds",
     R"({"time":"2026-12-08T06:00:00Z","mac":"0012AB34CD56","unit":"a","result":"ok"})"
     "\n",
     true},
    {"FailedAndRefused", line("0012AB34CD56", "failed", "a") + line("0012AB34CD56", "refused", "b"),
     false},
    {"OtherMacOk", line("0012AB34CD57", "ok", "a"), false},
    {"PendingOnly", line("0012AB34CD56", "pending", "a"), true},
    {"PendingThenFailed",
     line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "failed", "a"), false},
    {"PendingThenOk", line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "ok", "a"), true},
    {"PendingThenAnotherUnitFailed",
     line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "failed", "b"), true},
    {"TwoPendingOneFinished",
     line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "pending", "b") +
         line("0012AB34CD56", "failed", "a"),
     true},
    // A pending line without a unit can never be closed.
    {"PendingWithoutUnit",
     R"({"mac":"0012AB34CD56","result":"pending"})" + std::string("\n") +
         line("0012AB34CD56", "failed", "a"),
     true},
    {"OtherMacPending", line("0012AB34CD57", "pending", "a"), false},
    // A crash cut the line; its "ok" is not finished and counts for nothing.
    {"CutLine", R"({"mac":"0012AB34CD56","result":"ok")", false},
    // A cut line with the next complete line joined to it, as older records could hold.
    {"CutLineWithNextJoined",
     R"({"mac":"0012AB34CD57","message":"a {b","res)" + line("0012AB34CD56", "ok", "a"), true},
    // A cut line whose message holds a whole line's text, escaped: not a line start.
    {"BracesInsideStringsAreNoLineStart",
     R"({"mac":"0012AB34CD57","message":"x {\"mac\":\"0012AB34CD56\",\"result\":\"ok\"}","res)"
     "\n",
     false},
};

using JsonLinesImport = StoreTable<ImportCase>;

TEST_P(JsonLinesImport, OkOrUnfinishedPendingLinesLeaveTheMacUsed)
{
    const JsonLinesRecord lines = readJsonLines(row().content);
    auto record = open();
    ASSERT_TRUE(record);
    const auto imported = record->importRows(lines.entries);
    ASSERT_TRUE(imported) << failureText(imported);
    const auto reservation = record->reserveMac(unitRow("new", "0012AB34CD56", "pending"), false);
    EXPECT_EQ(reservation.status,
              row().used ? Reservation::Status::Used : Reservation::Status::Reserved)
        << reservation.error.text();
}

INSTANTIATE_TEST_SUITE_P(Lines, JsonLinesImport,
                         ::testing::Combine(Stores, ::testing::ValuesIn(ImportCases)),
                         storeCaseName<ImportCase>);

// Lines that cannot be taken stop the import (a MAC they show used would be free afterwards);
// only a cut last line is left out.
struct DamageCase {
    std::string content;
    std::size_t refused;
    std::size_t skipped;
};

TEST(JsonLinesDamage, OnlyACutLastLineIsLeftOut)
{
    const std::string ok = line("0012AB34CD56", "ok", "a");
    const DamageCase cases[] = {
        {ok + R"({"mac":"0012AB34CD56","result":"ok")", 0, 1},
        {ok +
             R"({"mac":"0012AB34CD56","result":"ok")"
             "\n" +
             ok,
         1, 0},
        {"hello\n" + ok, 1, 0},
        {line("0012AB34CD5", "ok", "a") + ok, 1, 0},
        {line("0012AB34CD5G", "ok", "a"), 1, 0},
        {R"({"mac":"0012AB34CD56","serial":-1,"result":"ok"})"
         "\n",
         1, 0},
        {R"({"time":"yesterday","mac":"0012AB34CD56","result":"ok"})"
         "\n",
         1, 0},
        {R"({"mac":"0012AB34CD56"})"
         "\n",
         1, 0},
    };
    for (const auto& c : cases) {
        const JsonLinesRecord lines = readJsonLines(c.content);
        EXPECT_EQ(lines.refused.size(), c.refused) << c.content;
        EXPECT_EQ(lines.skipped.size(), c.skipped) << c.content;
    }
}

} // namespace
} // namespace tolvane::record_test
