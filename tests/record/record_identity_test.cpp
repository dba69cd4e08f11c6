// A unit's MAC address and serial number across reservation, outcome and release, and the lines
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
    const char* units; // then `record units`: "MAC,serial,state,attempts" a line
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
      {Step::Reserve, "u2", M1, 7, "", "MAC u1"}, // the MAC is looked at first
      {Step::Reserve, "u3", M2, 7, "", "serial u1"}},
     "0012AB000001,7,unconfirmed,1\n"},
    {"FailedFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "failed", ""},
      {Step::Reserve, "u2", M1, 7, "", ""}},
     "0012AB000001,7,pending,2\n"},
    {"ReleasedUnconfirmedFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "unconfirmed", ""},
      {Step::Release, "", M1, -1, "", ""},
      {Step::Reserve, "u2", M2, 7, "", ""},
      {Step::Outcome, "u2", M2, 7, "failed", ""}},
     "0012AB000001,7,released,1\n0012AB000002,7,failed,1\n"},
    {"ReleasedPendingFreesBoth",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Release, "", M1, -1, "", ""},
      {Step::Reserve, "u2", M1, 7, "", ""}},
     "0012AB000001,7,pending,2\n"},
    {"SucceededIsNotReleased",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "ok", ""},
      {Step::Release, "", M1, -1, "", "a unit that succeeded keeps it"},
      {Step::Reserve, "u2", M1, -1, "", "MAC u1"},
      {Step::Outcome, "u2", M1, -1, "refused", ""}},
     "0012AB000001,7,ok,2\n"},
    {"SerialOnlyUnitsAndAFreeMac",
     {{Step::Reserve, "u1", "", 9, "", ""},
      {Step::Reserve, "u2", "", 9, "", "serial u1"},
      {Step::Release, "", M2, -1, "", "is held by no unit"},
      {Step::Outcome, "u3", M2, -1, "refused", ""}},
     ",9,pending,1\n0012AB000002,,refused,1\n"},
    {"SerialSentAgainStaysWithTheFirst",
     {{Step::Reserve, "u1", M1, 7, "", ""},
      {Step::Outcome, "u1", M1, 7, "ok", ""},
      {Step::Reserve, "u2", M2, 7, "serial", ""},
      {Step::Outcome, "u2", M2, 7, "ok", ""},
      {Step::Reserve, "u3", "", 7, "", "serial u1"}},
     "0012AB000001,7,ok,1\n0012AB000002,7,ok,1\n"},
};

RecordEntry identityRow(const Step& step, const char* result)
{
    RecordEntry row =
        unitRow(step.unit, *step.mac ? std::optional<std::string>(step.mac) : std::nullopt, result);
    if (step.serial >= 0)
        row.serial = static_cast<std::uint32_t>(step.serial);
    return row;
}

// "" when reserved, "MAC u1" / "serial u1" when used, else why it failed.
std::string reservationText(const Reservation& reservation)
{
    if (reservation.status != Reservation::Status::Used)
        return reservation.error.text();
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
    const auto lines = record->units({});
    ASSERT_TRUE(lines) << failureText(lines);
    std::string units;
    for (const auto& line : *lines)
        units += line.mac.value_or("") + "," + (line.serial ? std::to_string(*line.serial) : "") +
                 "," + line.state + "," + std::to_string(line.attempts) + "\n";
    EXPECT_EQ(units, row().units);
}

INSTANTIATE_TEST_SUITE_P(Identities, IdentityRules,
                         ::testing::Combine(Stores, ::testing::ValuesIn(IdentityCases)),
                         storeCaseName<IdentityCase>);

} // namespace
} // namespace tolvane::record_test
