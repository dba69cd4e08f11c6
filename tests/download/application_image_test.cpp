#include "download/routine_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace routine_test;

// ---- application-only image ----

TEST_F(DownloadRoutineTest, ApplicationImageSendsVersionThenTheFileUnchanged)
{
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    const Bytes file = readFileBytes(path);

    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);

    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 2u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, VersionCode);
    EXPECT_EQ(m_op.jobs()[0].payload, (Bytes{0x00, 0x01, 0x05, 0x03}));
    EXPECT_EQ(m_op.jobs()[0].targetAddress, "127.0.0.1");
    EXPECT_EQ(m_op.jobs()[0].port, 5123);
    EXPECT_EQ(m_op.jobs()[1].typeCode, ApplicationCode);
    EXPECT_EQ(m_op.jobs()[1].payloadSize, static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(m_op.jobs()[1].payload, file);
    EXPECT_EQ(m_op.jobs()[1].port, 5123);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.version, 0x03050100);
    EXPECT_FALSE(outcome.advancedMac);
    EXPECT_EQ(readFileBytes(path), file);
}

struct AnnounceCase {
    std::string tag;
    Bytes announced;
};

class ApplicationVersionTest : public DownloadRoutineTest,
                               public ::testing::WithParamInterface<AnnounceCase> {};

TEST_P(ApplicationVersionTest, VersionWordLeastSignificantFirst)
{
    const std::string path =
        writeImage(FirmwareImageBuilder(Layout::ApplicationOnly).version(GetParam().tag));
    downloadApplicationImage(m_op, path, Target);
    ASSERT_FALSE(m_op.jobs().empty());
    EXPECT_EQ(m_op.jobs()[0].payload, GetParam().announced);
}

INSTANTIATE_TEST_SUITE_P(Tags, ApplicationVersionTest,
                         ::testing::Values(AnnounceCase{"3.7.2", {0x00, 0x02, 0x05, 0x03}},
                                           AnnounceCase{"3.5.2", {0x00, 0x02, 0x05, 0x03}},
                                           AnnounceCase{"3.8.0", {0x00, 0x00, 0x08, 0x03}},
                                           AnnounceCase{"4.7.0", {0x00, 0x00, 0x07, 0x04}},
                                           AnnounceCase{"1.2.255", {0x00, 0xFF, 0x02, 0x01}}));

TEST_F(DownloadRoutineTest, ApplicationImageStopsAfterARefusedVersion)
{
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    m_op.scriptResults({TransferResult::Cancel});
    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);
    ASSERT_EQ(m_op.jobs().size(), 1u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, VersionCode);
    EXPECT_FALSE(outcome.succeeded);
}

TEST_F(DownloadRoutineTest, ApplicationImageFailedTransferIsNoSuccess)
{
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    m_op.scriptResults({TransferResult::Ok, TransferResult::Cancel});
    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);
    EXPECT_EQ(m_op.jobs().size(), 2u);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_TRUE(m_op.messages().empty()); // the transfer reported its own failure
}

TEST_F(DownloadRoutineTest, ApplicationImageReadOnlyFileIsSent)
{
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);
    EXPECT_TRUE(outcome.succeeded);
    ASSERT_EQ(m_op.jobs().size(), 2u);
    EXPECT_EQ(m_op.jobs()[1].payload, readFileBytes(path));
}

class ApplicationBadInputTest : public DownloadRoutineTest,
                                public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(ApplicationBadInputTest, ShowsItsMessageAndSendsNothing)
{
    const std::string path = GetParam().make(m_files);
    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);
    expectRefusedWith(GetParam().message);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.version);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ApplicationBadInputTest,
    ::testing::ValuesIn(afterUnopenableInputs(
        {BadInputCase{"ShortFile", bytesFile(Bytes(100, 0x55)), MessageId::NoImageFile},
         BadInputCase{"NoTag",
                      imageFile(FirmwareImageBuilder(Layout::ApplicationOnly).content("none")),
                      MessageId::NoImageFile},
         BadInputCase{"BadCrc",
                      imageFile(FirmwareImageBuilder(Layout::ApplicationOnly).corruptCrc()),
                      MessageId::NoImageFile},
         BadInputCase{"IntegratedLayout", imageFile(FirmwareImageBuilder().trailingBytes(0)),
                      MessageId::NoImageFile},
         BadInputCase{"ZeroVersion",
                      imageFile(FirmwareImageBuilder(Layout::ApplicationOnly).version("0.0.0")),
                      MessageId::InvalidData}})),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, ApplicationImageUnreadableFile)
{
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    expectRefusedAsOrdinaryUser(
        [&](RecordingOperator& op) { downloadApplicationImage(op, path, Target); },
        MessageId::CannotOpenImageFile);
}

TEST_F(DownloadRoutineTest, PayloadsPastTwoGiBAreRefused)
{
    const std::string path = m_files.file("huge.bin");
    if (!test::resizeSparse(path, std::uint64_t{1} << 31))
        GTEST_SKIP() << "no sparse files here";
    downloadApplicationImage(m_op, path, Target);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::PayloadTooLarge});

    RecordingOperator integrated;
    downloadIntegratedImage(integrated, path, Target, UnitIdentity{"0012AB34CD56", 1});
    EXPECT_EQ(integrated.messages(), std::vector<MessageId>{MessageId::PayloadTooLarge});
    EXPECT_TRUE(m_op.jobs().empty());
    EXPECT_TRUE(integrated.jobs().empty());
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

} // namespace
} // namespace tolvane
