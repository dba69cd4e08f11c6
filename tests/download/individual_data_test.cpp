#include "download/routine_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace routine_test;

// ---- individual data ----

struct IndividualCase {
    std::string name;
    UnitIdentity id;
    std::uint32_t typeCode;
    Bytes payload;
};

class IndividualDataTest : public DownloadRoutineTest,
                           public ::testing::WithParamInterface<IndividualCase> {};

TEST_P(IndividualDataTest, PayloadBytesAndTypeCode)
{
    const RoutineOutcome outcome = downloadIndividualData(m_op, Target, GetParam().id);
    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 1u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, GetParam().typeCode);
    EXPECT_EQ(m_op.jobs()[0].payload, GetParam().payload);
    EXPECT_EQ(m_op.jobs()[0].targetAddress, "127.0.0.1");
    EXPECT_EQ(m_op.jobs()[0].port, 5123);
    EXPECT_TRUE(outcome.succeeded);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, IndividualDataTest,
    ::testing::Values(IndividualCase{"MacAndSerial",
                                     identity("0012AB34CD56", 1, true, true),
                                     0x55AB0007,
                                     {0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56, 0x01, 0x00,
                                      0x00, 0x00}},
                      IndividualCase{"MacOnly",
                                     identity("0012ab34cd56", 1, true, false),
                                     0x55AB0005,
                                     {0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56}},
                      IndividualCase{"SerialOnly",
                                     identity("ignored", 305419896, false, true),
                                     0x55AB0006,
                                     {0x78, 0x56, 0x34, 0x12}}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, IndividualDataWithNeitherBoxDoesNothing)
{
    const RoutineOutcome outcome =
        downloadIndividualData(m_op, Target, identity("0012AB34CD56", 1, false, false, true));
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_TRUE(m_op.jobs().empty());
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.advancedMac);
}

struct IndividualAdvanceCase {
    std::string name;
    UnitIdentity id;
    TransferResult result;
    std::optional<std::string> advanced;
};

class IndividualAdvanceTest : public DownloadRoutineTest,
                              public ::testing::WithParamInterface<IndividualAdvanceCase> {};

TEST_P(IndividualAdvanceTest, AdvancesOnlyAfterSuccess)
{
    m_op.scriptResults({GetParam().result});
    const RoutineOutcome outcome = downloadIndividualData(m_op, Target, GetParam().id);
    EXPECT_EQ(outcome.advancedMac, GetParam().advanced);
    EXPECT_EQ(outcome.succeeded, GetParam().result == TransferResult::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IndividualAdvanceTest,
    ::testing::Values(
        IndividualAdvanceCase{"MacOnly", identity("0012ab34cd56", 0, true, false, true),
                              TransferResult::Ok, "0012AB34CD57"},
        IndividualAdvanceCase{"MacAndSerial", identity("000000FFFFFF", 0, true, true, true),
                              TransferResult::Ok, "000001000000"},
        IndividualAdvanceCase{"FailedTransfer", identity("0012AB34CD56", 0, true, true, true),
                              TransferResult::Cancel, std::nullopt},
        IndividualAdvanceCase{"AutoIncreaseOff", identity("0012AB34CD56", 0, true, false, false),
                              TransferResult::Ok, std::nullopt},
        IndividualAdvanceCase{"SerialOnly", identity("0012AB34CD56", 0, false, true, true),
                              TransferResult::Ok, std::nullopt}),
    [](const auto& testInfo) { return testInfo.param.name; });

struct InvalidMacCase {
    std::string name;
    std::string mac;
};

class IndividualInvalidMacTest : public DownloadRoutineTest,
                                 public ::testing::WithParamInterface<InvalidMacCase> {};

TEST_P(IndividualInvalidMacTest, BothMacVariantsRefuseAndSendNothing)
{
    for (const bool withSerial : {false, true}) {
        RecordingOperator op;
        const RoutineOutcome outcome =
            downloadIndividualData(op, Target, identity(GetParam().mac, 1, true, withSerial, true));
        EXPECT_EQ(op.messages(), std::vector<MessageId>{MessageId::InvalidMacAddress})
            << "with serial: " << withSerial;
        EXPECT_TRUE(op.jobs().empty());
        EXPECT_FALSE(outcome.advancedMac);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, IndividualInvalidMacTest,
                         ::testing::Values(InvalidMacCase{"Eleven", "0012AB34CD5"},
                                           InvalidMacCase{"Thirteen", "0012AB34CD567"},
                                           InvalidMacCase{"LetterG", "0012AB34CG56"},
                                           InvalidMacCase{"Empty", ""},
                                           InvalidMacCase{"Blank", "0012AB 4CD56"},
                                           InvalidMacCase{"NonAscii", "0012AB34CD5\xC6"}),
                         [](const auto& testInfo) { return testInfo.param.name; });

} // namespace
} // namespace tolvane
