// Which MAC addresses the record lets out, and to whom.

#include "record/record_entry.h"
#include "record_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

namespace tolvane::record_test {
namespace {

struct Step {
    enum { Reserve, ReserveReused, Outcome } what;
    const char* unit;
    const char* mac;
    const char* result;     // Outcome: the unit's result
    const char* expectHeld; // Reserve: the unit expected to hold the MAC already, "" when free
};

struct RuleCase {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const RuleCase& c, std::ostream* out)
{
    *out << c.name;
}

const RuleCase RuleCases[] = {
    {"PendingUnitBlocksItsMac",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Reserve, "u2", "0012AB000001", "", "u1"}}},
    {"FailedUnitFreesItsMac",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Outcome, "u1", "0012AB000001", "failed", ""},
      {Step::Reserve, "u2", "0012AB000001", "", ""}}},
    {"RefusedUnitFreesItsMac",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Outcome, "u1", "0012AB000001", "refused", ""},
      {Step::Reserve, "u2", "0012AB000001", "", ""}}},
    {"SucceededUnitKeepsItsMac",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Outcome, "u1", "0012AB000001", "ok", ""},
      {Step::Reserve, "u2", "0012AB000001", "", "u1"}}},
    {"OtherMacsStayFree",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Reserve, "u2", "0012AB000002", "", ""},
      {Step::Reserve, "u3", "0012AB000003", "", ""}}},
    {"ReusedOnPurposeStaysHeldByTheFirst",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::Outcome, "u1", "0012AB000001", "ok", ""},
      {Step::ReserveReused, "u2", "0012AB000001", "", ""},
      {Step::Outcome, "u2", "0012AB000001", "ok", ""},
      {Step::Reserve, "u3", "0012AB000001", "", "u1"}}},
    {"ReusedPendingTakesOverWhenTheFirstFails",
     {{Step::Reserve, "u1", "0012AB000001", "", ""},
      {Step::ReserveReused, "u2", "0012AB000001", "", ""},
      {Step::Outcome, "u1", "0012AB000001", "failed", ""},
      {Step::Reserve, "u3", "0012AB000001", "", "u2"}}},
};

using RecordRules = StoreTable<RuleCase>;

TEST_P(RecordRules, ReserveOnlyFreeMacs)
{
    auto record = open();
    ASSERT_TRUE(record);
    for (const Step& step : row().steps) {
        if (step.what == Step::Outcome) {
            const auto written = record->writeOutcome(unitRow(step.unit, step.mac, step.result));
            ASSERT_TRUE(written) << failureText(written);
            continue;
        }
        const auto reservation = record->reserveMac(unitRow(step.unit, step.mac, "pending"),
                                                    step.what == Step::ReserveReused);
        const std::string held = std::string(step.expectHeld);
        ASSERT_EQ(reservation.status,
                  held.empty() ? Reservation::Status::Reserved : Reservation::Status::Used)
            << step.unit << ": " << reservation.error.text();
        if (!held.empty()) {
            ASSERT_TRUE(reservation.holder);
            EXPECT_EQ(reservation.holder->unit, held);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, RecordRules,
                         ::testing::Combine(Stores, ::testing::ValuesIn(RuleCases)),
                         storeCaseName<RuleCase>);

using RacingProcesses = StoreFixture;

TEST_P(RacingProcesses, ForOneMacHaveOneWinner)
{
    ASSERT_TRUE(open()); // created before the race, so every process finds the table
    constexpr int Racers = 6;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < Racers; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(gate[1]);
            auto record = openProductionRecord(location);
            char go;
            // Every racer waits at the gate with its record open, then all reserve at once.
            if (!record || ::read(gate[0], &go, 1) != 0)
                ::_exit(3);
            const auto reservation = (*record)->reserveMac(
                unitRow("racer" + std::to_string(i), "0012AB0000FF", "pending"), false);
            ::_exit(reservation.status == Reservation::Status::Reserved ? 0
                    : reservation.status == Reservation::Status::Used   ? 1
                                                                        : 2);
        }
        children.push_back(child);
    }
    ::close(gate[0]);
    ::close(gate[1]); // opens the gate
    int winners = 0, losers = 0;
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        winners += WEXITSTATUS(status) == 0;
        losers += WEXITSTATUS(status) == 1;
    }
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(losers, Racers - 1);
}

INSTANTIATE_TEST_SUITE_P(Store, RacingProcesses, Stores,
                         [](const auto& testCase) { return storeName(testCase.param); });

} // namespace
} // namespace tolvane::record_test
