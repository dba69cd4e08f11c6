// A unit's MAC address and serial number across reservation, outcome and release, and what
// `record units` makes of them.

#include "record/unit_record.h"
#include "record_test_support.h"

namespace tolvane::record_test {
namespace {

struct Step {
    enum { Reserve, Outcome, Release } what;
    const char* unit;
    const char* mac;    // "" for none
    int serial;         // -1 for none
    const char* result; // Outcome: the result; Reserve: "serial" lets a used serial go again
    const char* expect; // Reserve: "" when reserved, else "MAC u1" or "serial u1" (who holds it);
                        // Release: "" when released, else part of the refusal
};

struct IdentityCase {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const IdentityCase& c, std::ostream* out)
{
    *out << c.name;
}

const char* const M1 = "0012AB000001";
const char* const M2 = "0012AB000002";

const IdentityCase IdentityCases[] = {
    {"UnconfirmedHoldsMacAndSerial",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "unconfirmed", ""},
      {Step::Reserve, "u2", M1, 8, "", "MAC u1"},
      {Step::Reserve, "u3", M2, 7, "", "serial u1"}}},
    {"FailedFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "failed", ""},
      {Step::Reserve, "u2", M1, 7, "", ""}}},
    {"ReleasedUnconfirmedFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "unconfirmed", ""},
      {Step::Release, "", M1, -1, "", ""},
      {Step::Reserve, "u2", M1, 7, "", ""}}},
    {"ReleasedPendingFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Release, "", M1, -1, "", ""},
      {Step::Reserve, "u2", M2, 7, "", ""}}},
    {"SucceededIsNotReleased",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "ok", ""},
      {Step::Release, "", M1, -1, "", "a unit that succeeded keeps it"},
      {Step::Reserve, "u2", M1, -1, "", "MAC u1"},
      {Step::Reserve, "u3", M2, 7, "", "serial u1"}}},
    {"FreeMacIsNotReleased", {{Step::Release, "", M1, -1, "", "is held by no unit"}}},
    {"SerialOnlyUnits",
     {{Step::Reserve, "u1", "", 9, "", ""}, {Step::Reserve, "u2", "", 9, "", "serial u1"}}},
    {"MacIsCheckedFirst",
     {{Step::Reserve, "u1", M1, 7, "", ""}, {Step::Reserve, "u2", M1, 7, "", "MAC u1"}}},
    {"SerialSentAgainStaysWithTheFirst",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "ok", ""},
      {Step::Reserve, "u2", M2, 7, "serial", ""},
      {Step::Outcome, "u2", M2, 7, "ok", ""},
      {Step::Reserve, "u3", "", 7, "", "serial u1"}}},
};

RecordEntry identityRow(const Step& step, const char* result)
{
    RecordEntry row =
        unitRow(step.unit, *step.mac ? std::optional<std::string>(step.mac) : std::nullopt, result);
    if (step.serial >= 0)
        row.serial = static_cast<std::uint32_t>(step.serial);
    return row;
}

// "" when reserved, "MAC u1" / "serial u1" when used.
std::string reservationText(const Reservation& reservation)
{
    if (reservation.status == Reservation::Status::Reserved)
        return "";
    if (reservation.status == Reservation::Status::Failed)
        return "failed: " + reservation.error.text();
    return (reservation.identity == Identity::Mac ? "MAC " : "serial ") + reservation.holder->unit;
}

using IdentityRules = StoreTable<IdentityCase>;

TEST_P(IdentityRules, HoldAndFreeMacsAndSerials)
{
    auto record = open();
    ASSERT_TRUE(record);
    for (const Step& step : row().steps) {
        if (step.what == Step::Outcome) {
            const auto written = record->writeOutcome(identityRow(step, step.result));
            ASSERT_TRUE(written) << failureText(written);
        } else if (step.what == Step::Reserve) {
            const auto reservation = record->reserve(
                identityRow(step, "pending"), {.serial = std::string(step.result) == "serial"});
            EXPECT_EQ(reservationText(reservation), step.expect) << step.unit;
        } else {
            const auto released = releaseMac(*record, step.mac, "checked by hand");
            const std::string refusal = failureText(released);
            EXPECT_EQ(refusal.empty(), !*step.expect) << refusal;
            EXPECT_NE(refusal.find(step.expect), std::string::npos) << refusal;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Identities, IdentityRules,
                         ::testing::Combine(Stores, ::testing::ValuesIn(IdentityCases)),
                         storeCaseName<IdentityCase>);

using UnitLines = StoreFixture;

TEST_P(UnitLines, ShowEachIdentityWithTheStateOfTheRowThatDecides)
{
    auto record = open();
    ASSERT_TRUE(record);
    int second = 0;
    const auto row = [&](const char* unit, const char* mac, const char* result) {
        RecordEntry entry =
            unitRow(unit, *mac ? std::optional<std::string>(mac) : std::nullopt, result);
        entry.time += std::chrono::seconds(second++);
        return entry;
    };
    const auto reserve = [&](RecordEntry entry) {
        EXPECT_EQ(reservationText(record->reserve(entry, {})), "") << entry.unit;
    };
    const auto write = [&](RecordEntry entry) { EXPECT_TRUE(record->writeOutcome(entry)); };
    RecordEntry first = row("u1", "0012AB000001", "pending");
    first.serial = 5;
    reserve(first);
    RecordEntry ok = row("u1", "0012AB000001", "ok");
    ok.serial = 5;
    ok.version = "3.5.1";
    write(ok);
    write(row("u2", "0012AB000001", "refused")); // another unit, refused the used MAC
    reserve(row("u3", "0012AB000002", "pending"));
    write(row("u3", "0012AB000002", "unconfirmed"));
    reserve(row("u4", "0012AB000003", "pending"));
    for (const char* unit : {"u5", "u6"}) {
        reserve(row(unit, "0012AB000004", "pending"));
        write(row(unit, "0012AB000004", "failed"));
    }
    write(row("u7", "0012AB000005", "refused"));
    reserve(row("u8", "0012AB000006", "pending"));
    write(row("u8", "0012AB000006", "unconfirmed"));
    RecordEntry release = row("", "0012AB000006", "");
    release.bench = "bench-2";
    EXPECT_EQ(failureText(record->release(release)), "");
    RecordEntry serialOnly = row("u9", "", "pending");
    serialOnly.serial = 42;
    reserve(serialOnly);
    serialOnly = row("u9", "", "ok");
    serialOnly.serial = 42;
    write(serialOnly);
    write(row("u10", "", "ok")); // an image sent without an identity: no line

    const auto lines = record->units({});
    ASSERT_TRUE(lines) << failureText(lines);
    std::string csv;
    for (const auto& line : *lines)
        csv += unitLineCsv(line);
    const std::string t = "2026-12-08T06:00:";
    EXPECT_EQ(csv,
              "0012AB000001,5,ok,2," + t + "00.000Z," + t + "02.000Z,127.0.0.1:5000,,3.5.1\r\n" +
                  "0012AB000002,,unconfirmed,1," + t + "03.000Z," + t +
                  "04.000Z,127.0.0.1:5000,,\r\n" + "0012AB000003,,pending,1," + t + "05.000Z," + t +
                  "05.000Z,127.0.0.1:5000,,\r\n" + "0012AB000004,,failed,2," + t + "06.000Z," + t +
                  "09.000Z,127.0.0.1:5000,,\r\n" + "0012AB000005,,refused,1," + t + "10.000Z," + t +
                  "10.000Z,127.0.0.1:5000,,\r\n" + "0012AB000006,,released,1," + t + "11.000Z," +
                  t + "13.000Z,127.0.0.1:5000,bench-2,\r\n" + ",42,ok,1," + t + "14.000Z," + t +
                  "15.000Z,127.0.0.1:5000,,\r\n");
    // The rows of the release and its unit share the unit's id.
    RecordFilter filter;
    filter.mac = "0012AB000006";
    const auto released = record->rows(filter);
    ASSERT_TRUE(released);
    ASSERT_EQ(released->size(), 3u);
    EXPECT_EQ((*released)[2].result, "released");
    EXPECT_EQ((*released)[2].unit, "u8");
    filter = {};
    filter.since = parseIsoUtcTime(t + "10.000Z");
    EXPECT_EQ(record->units(filter)->size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Store, UnitLines, Stores,
                         [](const auto& testCase) { return storeName(testCase.param); });

} // namespace
} // namespace tolvane::record_test
