// The download routines against the recorder simulator on the loopback address, with the real
// worker: what the simulator received is compared with bytes worked out by hand.
#include "core/ptz/ptz_image.h"
#include "download/routine_test_support.h"
#include "support/loopback_simulator.h"
#include "support/simulator_operator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using namespace routine_test;
using test::SimulatorOperator;

constexpr auto Patience = 20s;

class ImageEndToEndTest : public ::testing::Test {
protected:
    ImageEndToEndTest() : m_tmpdir("TMPDIR", m_temporary.path()) {}

    // Starts a simulator; every test talks only to it.
    void startSimulator(std::optional<std::int32_t> minimumVersion = std::nullopt,
                        sim::Fault fault = sim::Fault::None)
    {
        sim::SimulatorOptions options = test::loopbackOptions(fault);
        options.minimumVersion = minimumVersion;
        options.saveDirectory = m_saved.path();
        m_simulator.emplace(options);
        ASSERT_TRUE(test::startSimulator(*m_simulator));
        m_target = DownloadTarget{"127.0.0.1", m_simulator->port()};
    }

    // The transfers the simulator finished, in the order the routine ran them: the simulator lists
    // connections as they end, which need not be the order they began. Transfers of one type are
    // matched in the order they ended; the routine runs one after the other.
    std::vector<sim::ReceivedTransfer> received()
    {
        EXPECT_TRUE(m_simulator->waitForTransfers(m_op.transfers().size(), Patience));
        const std::vector<sim::ReceivedTransfer> all = m_simulator->transfers();
        EXPECT_EQ(all.size(), m_op.transfers().size());
        std::vector<bool> taken(all.size(), false);
        std::vector<sim::ReceivedTransfer> ordered;
        for (const auto& ran : m_op.transfers()) {
            for (std::size_t i = 0; i < all.size(); ++i) {
                if (!taken[i] && all[i].typeCode == ran.job.typeCode) {
                    taken[i] = true;
                    ordered.push_back(all[i]);
                    break;
                }
            }
        }
        return ordered;
    }

    TempDir m_files;
    TempDir m_saved;
    TempDir m_temporary;
    ScopedEnvironment m_tmpdir;
    std::optional<sim::Simulator> m_simulator;
    DownloadTarget m_target;
    SimulatorOperator m_op;
};

TEST_F(ImageEndToEndTest, ApplicationImageArrivesByteForByte)
{
    startSimulator(0x03050000);
    const std::string path = m_files.file("app.bin");
    FirmwareImageBuilder(Layout::ApplicationOnly)
        .version("3.7.2")
        .trailingBytes(300'000)
        .writeTo(path);
    const Bytes file = readFileBytes(path);

    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, m_target);

    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_TRUE(outcome.succeeded);
    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].typeCode, 0x55AB0009u);
    EXPECT_EQ(transfers[0].payload, (Bytes{0x00, 0x02, 0x05, 0x03})); // 3.7.2 announced as 3.5.2
    EXPECT_EQ(transfers[0].outcome, "ok");
    EXPECT_EQ(transfers[1].typeCode, 0x55AB0003u);
    EXPECT_EQ(transfers[1].announcedSize, file.size());
    EXPECT_EQ(transfers[1].outcome, "ok");
    EXPECT_EQ(transfers[1].payload, file);
    ASSERT_FALSE(transfers[1].savedPath.empty());
    EXPECT_EQ(readFileBytes(transfers[1].savedPath), file);
}

TEST_F(ImageEndToEndTest, RefusedVersionStopsBeforeTheImage)
{
    startSimulator(0x03060000);
    const std::string path = m_files.file("app.bin");
    FirmwareImageBuilder(Layout::ApplicationOnly).version("3.5.9").writeTo(path);

    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, m_target);

    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::FirmwareIncompatible});
    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, 0x55AB0009u);
    EXPECT_EQ(transfers[0].payload, (Bytes{0x00, 0x09, 0x05, 0x03}));
    EXPECT_EQ(transfers[0].outcome, "refused");
}

TEST_F(ImageEndToEndTest, IntegratedImageArrivesPatchedAndTheMacAdvances)
{
    startSimulator(0x03050100);
    const std::string path = m_files.file("full.bin");
    FirmwareImageBuilder().version("3.5.1").writeTo(path);
    const Bytes original = readFileBytes(path);
    UnitIdentity unit{"000000FFFFFF", 0x00BC614E, true, true, true};

    const RoutineOutcome outcome = downloadIntegratedImage(m_op, path, m_target, unit);

    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.advancedMac, "000001000000");
    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].payload, (Bytes{0x00, 0x01, 0x05, 0x03}));
    EXPECT_EQ(transfers[1].typeCode, 0x55AB0001u);
    Bytes expected = original;
    const Bytes patch = {0x00, 0x00, 0x00, 0x00,  // upper half 000000, little-endian
                         0xFF, 0xFF, 0xFF, 0x00,  // lower half FFFFFF, little-endian
                         0x00, 0xBC, 0x61, 0x4E}; // serial 12345678, big-endian
    std::copy(patch.begin(), patch.end(), expected.begin() + 0xFF80);
    EXPECT_EQ(transfers[1].payload, expected);
    EXPECT_EQ(readFileBytes(path), original);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

TEST_F(ImageEndToEndTest, IntegratedRefusalKeepsTheMacAndLeavesNoCopy)
{
    startSimulator(0x04000000);
    const std::string path = m_files.file("full.bin");
    FirmwareImageBuilder().version("3.5.1").writeTo(path);

    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, m_target, {"0012AB34CD56", 1, true, true, true});

    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.advancedMac);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::FirmwareIncompatible});
    EXPECT_EQ(received().size(), 1u);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

struct IndividualCase {
    std::string name;
    UnitIdentity unit;
    std::uint32_t typeCode;
    Bytes payload;
    std::optional<std::string> advanced;
};

class IndividualImageEndToEndTest : public ImageEndToEndTest,
                                    public ::testing::WithParamInterface<IndividualCase> {};

TEST_P(IndividualImageEndToEndTest, PayloadAsReceived)
{
    startSimulator();
    const IndividualCase& c = GetParam();
    const RoutineOutcome outcome = downloadIndividualData(m_op, m_target, c.unit);
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.advancedMac, c.advanced);
    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, c.typeCode);
    EXPECT_EQ(transfers[0].payload, c.payload);
    EXPECT_EQ(transfers[0].outcome, "ok");
}

INSTANTIATE_TEST_SUITE_P(Variants, IndividualImageEndToEndTest,
                         ::testing::Values(IndividualCase{"MacAndSerial",
                                                          {"0012AB34CD56", 1, true, true, true},
                                                          0x55AB0007,
                                                          {0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD,
                                                           0x56, 0x01, 0x00, 0x00, 0x00},
                                                          "0012AB34CD57"},
                                           IndividualCase{
                                               "MacOnly",
                                               {"0012ab34cd56", 0, true, false, false},
                                               0x55AB0005,
                                               {0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56},
                                               std::nullopt},
                                           IndividualCase{"SerialOnly",
                                                          {"", 305419896, false, true, true},
                                                          0x55AB0006,
                                                          {0x78, 0x56, 0x34, 0x12},
                                                          std::nullopt}),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(ImageEndToEndTest, FailedIndividualTransferKeepsTheMac)
{
    startSimulator(std::nullopt, sim::Fault::BadAcknowledgement);
    const RoutineOutcome outcome =
        downloadIndividualData(m_op, m_target, {"0012AB34CD56", 1, true, false, true});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.advancedMac);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::CannotWriteFirmware});
}

TEST_F(ImageEndToEndTest, AdvancedMacGoesToTheNextUnit)
{
    // Two units in a row, the second given the address the first run advanced to; the carry
    // crosses from the lower half into the upper one.
    startSimulator();
    const RoutineOutcome first =
        downloadIndividualData(m_op, m_target, {"0012ABFFFFFF", 0, true, false, true});
    ASSERT_TRUE(first.succeeded);
    ASSERT_EQ(first.advancedMac, std::optional<std::string>("0012AC000000"));
    // The simulator lists a connection when it ends; the first must be listed first.
    ASSERT_TRUE(m_simulator->waitForTransfers(1, Patience));
    const RoutineOutcome second =
        downloadIndividualData(m_op, m_target, {*first.advancedMac, 0, true, false, true});
    ASSERT_TRUE(second.succeeded);

    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].payload, (Bytes{0x00, 0x00, 0x12, 0xAB, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(transfers[1].payload, (Bytes{0x00, 0x00, 0x12, 0xAC, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ImageEndToEndTest, PtzImageArrivesByteForByte)
{
    startSimulator();
    const std::string path = m_files.file("ptz.bin");
    const Bytes image = validPtzImageBytes();
    writeFileBytes(path, image);

    const RoutineOutcome outcome = downloadPtzImage(m_op, path, m_target);

    EXPECT_TRUE(outcome.succeeded);
    const auto transfers = received();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, 0x55AB0008u);
    EXPECT_EQ(transfers[0].announcedSize, 64660u);
    EXPECT_EQ(transfers[0].payload, image);
}

TEST_F(ImageEndToEndTest, PtzImageFileWrittenByTheImageCreatorArrives)
{
    startSimulator();
    PtzImage empty;
    const std::string emptyPath = m_files.file("empty.bin");
    const auto emptyWritten = empty.write(emptyPath);
    ASSERT_TRUE(emptyWritten) << emptyWritten.failure().text();
    PtzImage one;
    PtzProtocol protocol;
    protocol.number = 7;
    protocol.setName("Alpha");
    protocol.baudRate = 9600;
    ASSERT_NE(one.SetAt(0, protocol), 0);
    const std::string onePath = m_files.file("one.bin");
    const auto oneWritten = one.write(onePath);
    ASSERT_TRUE(oneWritten) << oneWritten.failure().text();

    EXPECT_TRUE(downloadPtzImage(m_op, emptyPath, m_target).succeeded);
    EXPECT_TRUE(downloadPtzImage(m_op, onePath, m_target).succeeded);

    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_TRUE(m_simulator->waitForTransfers(2, Patience));
    const auto transfers = m_simulator->transfers();
    ASSERT_EQ(transfers.size(), 2u);
    const Bytes emptyFile = readFileBytes(emptyPath);
    const Bytes oneFile = readFileBytes(onePath);
    // 16164 words of FFFFFFFF sum to -16164, so the checksum word is 16164 = 0x3F24.
    EXPECT_EQ(Bytes(emptyFile.begin(), emptyFile.begin() + 4), (Bytes{0x24, 0x3F, 0x00, 0x00}));
    for (const Bytes& file : {emptyFile, oneFile}) {
        const bool arrived = transfers[0].payload == file || transfers[1].payload == file;
        EXPECT_TRUE(arrived);
    }
}

TEST_F(ImageEndToEndTest, CorruptedPtzImageNeverConnects)
{
    startSimulator();
    const std::string path = m_files.file("ptz.bin");
    Bytes image = validPtzImageBytes();
    image[40000] ^= 0x01;
    writeFileBytes(path, image);

    downloadPtzImage(m_op, path, m_target);

    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::InvalidPtzImage});
    EXPECT_TRUE(m_op.transfers().empty());
}

} // namespace
} // namespace tolvane
