// The recorded download as both front ends run it: the service against simulators on 127.0.0.1
// and a SQLite record in a temporary folder. Rows are read back through SQLite's own interface,
// MAC addresses from the bytes each simulator received.
#include "record/production_record.h"
#include "service/download_service.h"
#include "sim/demo_files.h"
#include "support/deadlines.h"
#include "support/loopback_simulator.h"
#include "support/simulator_operator.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <mutex>
#include <set>

namespace tolvane::service {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Rows = std::multiset<std::string>;

// The record's rows as "MAC result message" (NULL as -).
Rows recordRows(const std::string& path)
{
    Rows rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT coalesce(mac, '-') || ' ' || result || ' ' || message FROM units",
                       -1, &query, nullptr);
    while (query && sqlite3_step(query) == SQLITE_ROW)
        rows.insert(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// The MAC address of the MAC-and-serial payload the simulator received; "" when none came.
std::string macOnWire(const sim::Simulator& simulator)
{
    if (!simulator.waitForTransfers(1, 200ms))
        return "";
    const auto payload = simulator.transfers().at(0).payload;
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", payload.at(1), payload.at(2),
                  payload.at(3), payload.at(5), payload.at(6), payload.at(7));
    return text;
}

// What the front end heard; called from the batch's threads.
struct HeardUnits : UnitObserver {
    std::mutex mutex;
    std::vector<std::string> notes;
    std::set<std::size_t> transfersStarted;
    std::function<void()> onFinished;

    void note(std::size_t, const std::string& text) override
    {
        std::lock_guard lock(mutex);
        notes.push_back(text);
    }
    void transferStarted(std::size_t unit, std::uint32_t) override
    {
        std::lock_guard lock(mutex);
        transfersStarted.insert(unit);
    }
    void unitFinished(std::size_t, const UnitOutcome&) override
    {
        if (onFinished)
            onFinished();
    }
};

class DownloadServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto opened = record::openProductionRecord(m_path);
        ASSERT_TRUE(opened) << opened.failure().text();
        m_record = std::move(*opened);
    }

    sim::Simulator& simulator(sim::Fault fault = sim::Fault::None)
    {
        m_simulators.push_back(std::make_unique<sim::Simulator>(test::loopbackOptions(fault)));
        EXPECT_TRUE(test::startSimulator(*m_simulators.back()));
        return *m_simulators.back();
    }
    // Each unit its own serial number: the record holds serials as it holds MAC addresses.
    UnitRequest unitAt(const sim::Simulator& recorder, const std::string& mac)
    {
        return {{"127.0.0.1", recorder.port()}, {mac, m_nextSerial++, true, true, false}};
    }
    DownloadPlan dataPlan() const
    {
        DownloadPlan plan;
        plan.type = DownloadType::IndividualData;
        plan.record = m_record.get();
        plan.wording = [](const Refusal& refusal) { return "refused: " + refusal.detail; };
        return plan;
    }
    BatchOutcome runBatch(DownloadPlan plan, const std::vector<UnitRequest>& units, int jobs = 1,
                          std::stop_token stop = {})
    {
        return DownloadService(std::move(plan))
            .runBatch(units, {jobs, test::simulatorDeadlines()}, m_heard, stop);
    }

    test::TempDir m_dir;
    std::string m_path = m_dir.file("units.db");
    std::unique_ptr<record::ProductionRecord> m_record;
    std::vector<std::unique_ptr<sim::Simulator>> m_simulators;
    HeardUnits m_heard;
    std::uint32_t m_nextSerial = 7;
};

TEST_F(DownloadServiceTest, BatchReservesEachMacSendsItAndWritesTheOutcome)
{
    auto& first = simulator();
    auto& refusing = simulator(sim::Fault::Refuse);
    auto& third = simulator();
    const auto batch = runBatch(dataPlan(),
                                {unitAt(first, "0012AB000001"), unitAt(refusing, "0012ab000002"),
                                 unitAt(third, "0012AB000003")},
                                2);

    ASSERT_EQ(batch.units.size(), 3u);
    EXPECT_EQ(batch.units[0]->result, UnitResult::Ok);
    EXPECT_EQ(batch.units[1]->result, UnitResult::Failed);
    EXPECT_EQ(batch.units[1]->message, "Can't write a firmware.");
    EXPECT_EQ(batch.units[1]->mac, "0012AB000002");
    EXPECT_EQ(batch.units[2]->result, UnitResult::Ok);
    EXPECT_EQ(macOnWire(first), "0012AB000001");
    EXPECT_EQ(macOnWire(third), "0012AB000003");
    EXPECT_EQ(m_heard.transfersStarted, (std::set<std::size_t>{0, 1, 2}));
    EXPECT_EQ(recordRows(m_path),
              (Rows{"0012AB000001 pending ", "0012AB000001 ok ", "0012AB000002 pending ",
                    "0012AB000002 failed Can't write a firmware.", "0012AB000003 pending ",
                    "0012AB000003 ok "}));
}

TEST_F(DownloadServiceTest, UsedMacIsRefusedOrPassedOverForTheNextFree)
{
    runBatch(dataPlan(), {unitAt(simulator(), "0012AB000002")});

    auto& again = simulator();
    const auto refused = runBatch(dataPlan(), {unitAt(again, "0012AB000002")});
    EXPECT_EQ(refused.units[0]->result, UnitResult::Refused);
    EXPECT_THAT(refused.units[0]->message,
                StartsWith("refused: MAC address 0012AB000002 is already used by unit "));
    EXPECT_EQ(macOnWire(again), "");

    DownloadPlan counting = dataPlan();
    counting.freeMacsFrom = "0012AB000001";
    auto& first = simulator();
    auto& second = simulator();
    // The units' own addresses give way to the counter's.
    const auto taken =
        runBatch(counting, {unitAt(first, "00000000AAAA"), unitAt(second, "00000000AAAA")});
    EXPECT_EQ(macOnWire(first), "0012AB000001");
    EXPECT_EQ(macOnWire(second), "0012AB000003");
    EXPECT_EQ(taken.units[1]->mac, "0012AB000003");
    EXPECT_EQ(taken.nextFreeMac, "0012AB000004");
    ASSERT_EQ(m_heard.notes.size(), 1u);
    EXPECT_THAT(m_heard.notes[0], HasSubstr("0012AB000002 is already used by unit"));

    const Rows rows = recordRows(m_path);
    EXPECT_EQ(rows.count("0012AB000002 ok "), 1u);
    EXPECT_EQ(rows.count("0012AB000002 refused " + refused.units[0]->message), 1u);
    EXPECT_EQ(rows.count("0012AB000003 ok "), 1u);
    EXPECT_EQ(rows.size(), 7u);
}

TEST_F(DownloadServiceTest, StoppedBatchStartsNoFurtherUnit)
{
    auto& first = simulator();
    auto& second = simulator();
    std::stop_source stop;
    m_heard.onFinished = [&] { stop.request_stop(); };
    const auto batch =
        runBatch(dataPlan(), {unitAt(first, "0012AB000001"), unitAt(second, "0012AB000002")}, 1,
                 stop.get_token());
    ASSERT_TRUE(batch.units[0]);
    EXPECT_FALSE(batch.units[1]);
    EXPECT_EQ(macOnWire(second), "");
    EXPECT_EQ(recordRows(m_path), (Rows{"0012AB000001 pending ", "0012AB000001 ok "}));
}

// A front end's operator whose progress window tells of the worker's error itself.
class WindowLikeOperator : public test::SimulatorOperator {
public:
    std::optional<MessageId> lastTransferMessage() const override
    {
        return messages().empty() ? std::nullopt : std::optional(messages().back());
    }
};

TEST_F(DownloadServiceTest, OneUnitKeepsTheMessageItsOperatorShowed)
{
    auto& refusing = simulator(sim::Fault::Refuse);
    WindowLikeOperator op;
    const auto outcome =
        DownloadService(dataPlan()).runUnit(unitAt(refusing, "0012AB000001"), op, m_heard);
    EXPECT_EQ(outcome.result, UnitResult::Failed);
    EXPECT_EQ(recordRows(m_path),
              (Rows{"0012AB000001 pending ", "0012AB000001 failed Can't write a firmware."}));
}

// How far a unit's transfer got decides whether its MAC address is freed: only when the recorder
// certainly did not get the whole payload.
struct ReachCase {
    const char* name;
    sim::Fault fault;
    DownloadType type;
    UnitResult result;
    const char* state; // the MAC address's line in `record units`
};

class TransferReachTest : public DownloadServiceTest,
                          public ::testing::WithParamInterface<ReachCase> {};

TEST_P(TransferReachTest, MacIsFreedOnlyWhenThePayloadCertainlyDidNotArrive)
{
    const ReachCase& c = GetParam();
    test::TempDir files;
    ASSERT_TRUE(sim::writeDemoFiles(files.path()));
    DownloadPlan plan = dataPlan();
    plan.type = c.type;
    plan.file = files.file(sim::DemoIntegratedImageName);
    auto& recorder = simulator(c.fault);
    UnitRequest unit = unitAt(recorder, "0012AB000001");
    unit.identity.autoIncrease = true;
    const auto outcome = DownloadService(plan)
                             .runBatch({unit}, {1, test::simulatorDeadlines()}, m_heard)
                             .units.at(0);

    EXPECT_EQ(outcome->result, c.result);
    const auto lines = m_record->units({});
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 1u);
    EXPECT_EQ(lines->at(0).state, c.state);
    if (c.result == UnitResult::Unconfirmed) {
        EXPECT_THAT(outcome->message,
                    HasSubstr("MAC address 0012AB000001 stays held in " + m_path +
                              ": the recorder may have taken it. Once the unit is checked, free it "
                              "with tolvane-cli record release " +
                              m_path + " 0012AB000001 --reason TEXT"));
        EXPECT_EQ(outcome->advancedMac, "0012AB000002");
    }
}

constexpr auto Data = DownloadType::IndividualData;
constexpr auto Image = DownloadType::IntegratedImage;
INSTANTIATE_TEST_SUITE_P(
    Faults, TransferReachTest,
    ::testing::Values(
        ReachCase{"RefusedBeforePayload", sim::Fault::WrongTypeAnswer, Data, UnitResult::Failed,
                  "failed"},
        ReachCase{"PayloadRefused", sim::Fault::Refuse, Data, UnitResult::Failed, "failed"},
        ReachCase{"PartOfImage", sim::Fault::CloseMidPayload, Image, UnitResult::Failed, "failed"},
        ReachCase{"CloseAfterPayload", sim::Fault::CloseAfterPayload, Data, UnitResult::Unconfirmed,
                  "unconfirmed"},
        ReachCase{"ResetAfterPayload", sim::Fault::ResetAfterPayload, Data, UnitResult::Unconfirmed,
                  "unconfirmed"},
        ReachCase{"SilentAfterPayload", sim::Fault::SilentAfterPayload, Data,
                  UnitResult::Unconfirmed, "unconfirmed"},
        ReachCase{"CloseAfterFirstAck", sim::Fault::CloseAfterFirstAck, Data,
                  UnitResult::Unconfirmed, "unconfirmed"},
        ReachCase{"ImageReset", sim::Fault::ResetAfterPayload, Image, UnitResult::Unconfirmed,
                  "unconfirmed"}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tolvane::service
