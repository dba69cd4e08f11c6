#include "download/routine_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace routine_test;

// ---- integrated image ----

TEST_F(DownloadRoutineTest, IntegratedImagePatchesTheCopyAndLeavesTheFile)
{
    const std::string path = writeImage(FirmwareImageBuilder().version("3.5.1"));
    const Bytes original = readFileBytes(path);
    // The copy has no name while it is sent, so an interrupted run leaves nothing behind.
    int copiesDuringTransfer = -1;
    m_op.onTransfer([&](const DownloadJob&) {
        copiesDuringTransfer = static_cast<int>(m_temporary.entryCount());
    });

    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, Target, identity("0012AB34CD56", 1, true, true));

    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 2u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, VersionCode);
    EXPECT_EQ(m_op.jobs()[0].payload, (Bytes{0x00, 0x01, 0x05, 0x03}));
    EXPECT_EQ(m_op.jobs()[1].typeCode, IntegratedCode);
    Bytes expected = original;
    putBytes(expected, 0xFF80, {0xAB, 0x12, 0x00, 0x00});
    putBytes(expected, 0xFF84, {0x56, 0xCD, 0x34, 0x00});
    putBytes(expected, 0xFF88, {0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(m_op.jobs()[1].payload, expected);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.version, 0x03050100);
    EXPECT_FALSE(outcome.advancedMac);

    EXPECT_EQ(copiesDuringTransfer, 0);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
    EXPECT_EQ(readFileBytes(path), original);
}

// Only the application-only image announces 3.7.x as 3.5.x; the integrated image says what its tag
// says.
struct IntegratedAnnounceCase {
    std::string name;
    std::string tag;
    std::int32_t version;
    Bytes announced;
};

void PrintTo(const IntegratedAnnounceCase& c, std::ostream* out)
{
    *out << c.tag;
}

class IntegratedVersionTest : public DownloadRoutineTest,
                              public ::testing::WithParamInterface<IntegratedAnnounceCase> {};

TEST_P(IntegratedVersionTest, AnnouncesTheTaggedVersionUnchanged)
{
    const IntegratedAnnounceCase& c = GetParam();
    const std::string path = writeImage(FirmwareImageBuilder().version(c.tag));
    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, Target, identity("0012AB34CD56", 1, true, true));
    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 2u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, VersionCode);
    EXPECT_EQ(m_op.jobs()[0].payloadSize, 4);
    EXPECT_EQ(m_op.jobs()[0].payload, c.announced);
    EXPECT_EQ(outcome.version, c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, IntegratedVersionTest,
    ::testing::Values(
        IntegratedAnnounceCase{"ThreeSevenTwo", "3.7.2", 0x03070200, {0x00, 0x02, 0x07, 0x03}},
        IntegratedAnnounceCase{"ThreeSevenZero", "3.7.0", 0x03070000, {0x00, 0x00, 0x07, 0x03}},
        IntegratedAnnounceCase{"ThreeFiveTwo", "3.5.2", 0x03050200, {0x00, 0x02, 0x05, 0x03}}),
    [](const auto& testInfo) { return testInfo.param.name; });

struct PatchCase {
    std::string name;
    bool sendMac;
    bool sendSerial;
};

class IntegratedPatchTest : public DownloadRoutineTest,
                            public ::testing::WithParamInterface<PatchCase> {};

TEST_P(IntegratedPatchTest, OnlyTheTickedFieldsChange)
{
    const std::string path = writeImage(FirmwareImageBuilder());
    const Bytes original = readFileBytes(path);
    downloadIntegratedImage(
        m_op, path, Target,
        identity("a1b2c3d4e5f6", 0x01020304, GetParam().sendMac, GetParam().sendSerial));
    ASSERT_EQ(m_op.jobs().size(), 2u);
    Bytes expected = original;
    if (GetParam().sendMac) {
        putBytes(expected, 0xFF80, {0xC3, 0xB2, 0xA1, 0x00});
        putBytes(expected, 0xFF84, {0xF6, 0xE5, 0xD4, 0x00});
    }
    if (GetParam().sendSerial)
        putBytes(expected, 0xFF88, {0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(m_op.jobs()[1].payload, expected);
    EXPECT_EQ(readFileBytes(path), original);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Boxes, IntegratedPatchTest,
                         ::testing::Values(PatchCase{"Neither", false, false},
                                           PatchCase{"MacOnly", true, false},
                                           PatchCase{"SerialOnly", false, true},
                                           PatchCase{"Both", true, true}),
                         [](const auto& testInfo) { return testInfo.param.name; });

struct AdvanceCase {
    std::string name;
    std::string mac;
    bool sendMac;
    bool autoIncrease;
    std::vector<TransferResult> results;
    std::size_t jobs;
    std::optional<std::string> advanced;
};

class IntegratedAdvanceTest : public DownloadRoutineTest,
                              public ::testing::WithParamInterface<AdvanceCase> {};

TEST_P(IntegratedAdvanceTest, MacAdvancesAfterAnAcceptedVersion)
{
    const AdvanceCase& c = GetParam();
    const std::string path = writeImage(FirmwareImageBuilder());
    for (const TransferResult result : c.results)
        m_op.scriptResults({result});
    const RoutineOutcome outcome = downloadIntegratedImage(
        m_op, path, Target, identity(c.mac, 7, c.sendMac, true, c.autoIncrease));
    EXPECT_EQ(m_op.jobs().size(), c.jobs);
    EXPECT_EQ(outcome.advancedMac, c.advanced);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegratedAdvanceTest,
    ::testing::Values(AdvanceCase{"Carry", "000000FFFFFF", true, true, {}, 2, "000001000000"},
                      AdvanceCase{"Wrap", "FFFFFFFFFFFF", true, true, {}, 2, "000000000000"},
                      AdvanceCase{"LowerCaseIn", "0012ab34cd56", true, true, {}, 2, "0012AB34CD57"},
                      AdvanceCase{"ImageFailedStillAdvances",
                                  "0012AB34CD56",
                                  true,
                                  true,
                                  {TransferResult::Ok, TransferResult::Cancel},
                                  2,
                                  "0012AB34CD57"},
                      AdvanceCase{"RefusedVersion",
                                  "0012AB34CD56",
                                  true,
                                  true,
                                  {TransferResult::Cancel},
                                  1,
                                  std::nullopt},
                      AdvanceCase{
                          "AutoIncreaseOff", "0012AB34CD56", true, false, {}, 2, std::nullopt},
                      AdvanceCase{"MacNotSent", "0012AB34CD56", false, true, {}, 2, std::nullopt}),
    [](const auto& testInfo) { return testInfo.param.name; });

struct IntegratedBadCase {
    std::string name;
    std::function<std::string(const TempDir&)> make;
    std::string mac;
    MessageId message;
};

class IntegratedBadInputTest : public DownloadRoutineTest,
                               public ::testing::WithParamInterface<IntegratedBadCase> {};

TEST_P(IntegratedBadInputTest, ShowsItsMessageSendsNothingLeavesNothing)
{
    const IntegratedBadCase& c = GetParam();
    const std::string path = c.make(m_files);
    std::optional<Bytes> before;
    if (std::filesystem::is_regular_file(path))
        before = readFileBytes(path);

    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, Target, identity(c.mac, 1, true, true, true));

    expectRefusedWith(c.message);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.advancedMac);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
    if (before) {
        EXPECT_EQ(readFileBytes(path), *before);
    }
}

const std::string GoodMac = "0012AB34CD56";

INSTANTIATE_TEST_SUITE_P(
    Inputs, IntegratedBadInputTest,
    ::testing::Values(
        IntegratedBadCase{"Missing", missing, GoodMac, MessageId::NoImageFile},
        IntegratedBadCase{"Directory", folder, GoodMac, MessageId::NoImageFile},
        IntegratedBadCase{"MacTooShort", imageFile(FirmwareImageBuilder()), "0012AB34CD5",
                          MessageId::InvalidMacAddress},
        IntegratedBadCase{"MacNotHex", imageFile(FirmwareImageBuilder()), "0012AB34CG56",
                          MessageId::InvalidMacAddress},
        IntegratedBadCase{"MacEmpty", imageFile(FirmwareImageBuilder()), "",
                          MessageId::InvalidMacAddress},
        IntegratedBadCase{"Empty", bytesFile({}), GoodMac, MessageId::CannotOpenImageFile},
        IntegratedBadCase{"ShorterThanPatchArea", bytesFile(Bytes(65419, 0x11)), GoodMac,
                          MessageId::InvalidFileSize},
        IntegratedBadCase{"ExactlyPatchAreaHasNoHeader", bytesFile(Bytes(65420, 0x11)), GoodMac,
                          MessageId::NoImageFile},
        IntegratedBadCase{"NoTag", imageFile(FirmwareImageBuilder().content("nothing")), GoodMac,
                          MessageId::NoImageFile},
        IntegratedBadCase{"BadLength", imageFile(FirmwareImageBuilder().corruptLength()), GoodMac,
                          MessageId::NoImageFile},
        IntegratedBadCase{
            "ApplicationLayout",
            imageFile(FirmwareImageBuilder(Layout::ApplicationOnly).trailingBytes(0x10000)),
            GoodMac, MessageId::NoImageFile},
        IntegratedBadCase{"ApplicationLayoutTooShort",
                          imageFile(FirmwareImageBuilder(Layout::ApplicationOnly)), GoodMac,
                          MessageId::InvalidFileSize},
        IntegratedBadCase{"ZeroVersion", imageFile(FirmwareImageBuilder().version("0.0.0")),
                          GoodMac, MessageId::InvalidData}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, IntegratedInvalidMacIsNotCheckedWhenNotSent)
{
    const std::string path = writeImage(FirmwareImageBuilder());
    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, Target, identity("not a mac", 1, false, true, true));
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_EQ(m_op.jobs().size(), 2u);
    EXPECT_TRUE(outcome.succeeded);
}

TEST_F(DownloadRoutineTest, IntegratedUnreadableFile)
{
    const std::string path = writeImage(FirmwareImageBuilder());
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    expectRefusedAsOrdinaryUser(
        [&](RecordingOperator& op) {
            downloadIntegratedImage(op, path, Target, identity(GoodMac, 1, true, true));
        },
        MessageId::CannotOpenImageFile);
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

TEST_F(DownloadRoutineTest, IntegratedImageNeedsNoTemporaryFolder)
{
    const std::string path = writeImage(FirmwareImageBuilder());
    ScopedEnvironment gone("TMPDIR", m_temporary.file("does-not-exist"));
    const RoutineOutcome outcome =
        downloadIntegratedImage(m_op, path, Target, identity(GoodMac, 1, true, true));
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_EQ(m_op.jobs().size(), 2u);
    EXPECT_TRUE(outcome.succeeded);
}

} // namespace
} // namespace tolvane
