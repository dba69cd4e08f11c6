#include "core/download/download_routines.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/recording_operator.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tolvane {
namespace {

using test::FirmwareImageBuilder;
using test::readFileBytes;
using test::RecordingOperator;
using test::ScopedEnvironment;
using test::TempDir;
using test::writeFileBytes;
using Bytes = std::vector<std::uint8_t>;
using Layout = FirmwareImageBuilder::Layout;

constexpr std::uint32_t VersionCode = 0x55AB0009;
constexpr std::uint32_t IntegratedCode = 0x55AB0001;
constexpr std::uint32_t ApplicationCode = 0x55AB0003;
const DownloadTarget Target{"127.0.0.1", 5123};

// Every routine test runs with its own temporary folder, so a copy left behind is seen.
class DownloadRoutineTest : public ::testing::Test {
protected:
    DownloadRoutineTest() : m_tmpdir("TMPDIR", m_temporary.path()) {}

    std::string writeImage(const FirmwareImageBuilder& builder,
                           const std::string& name = "image.bin")
    {
        const std::string path = m_files.file(name);
        builder.writeTo(path);
        return path;
    }

    std::string writeBytes(const Bytes& bytes, const std::string& name = "file.bin")
    {
        const std::string path = m_files.file(name);
        writeFileBytes(path, bytes);
        return path;
    }

    // A sparse file of the given size; false when the file system cannot hold one.
    bool writeSparse(const std::string& path, off_t size)
    {
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (file < 0)
            return false;
        const bool ok = ::ftruncate(file, size) == 0;
        ::close(file);
        return ok;
    }

    TempDir m_files;
    TempDir m_temporary;
    ScopedEnvironment m_tmpdir;
    RecordingOperator m_op;
};

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

struct BadInputCase {
    std::string name;
    // Creates the input in the folder and returns its path.
    std::function<std::string(const TempDir&)> make;
    MessageId message;
};

std::function<std::string(const TempDir&)> imageFile(FirmwareImageBuilder builder)
{
    return [builder](const TempDir& dir) {
        builder.writeTo(dir.file("image.bin"));
        return dir.file("image.bin");
    };
}

std::function<std::string(const TempDir&)> bytesFile(Bytes bytes)
{
    return [bytes](const TempDir& dir) {
        writeFileBytes(dir.file("image.bin"), bytes);
        return dir.file("image.bin");
    };
}

std::string missing(const TempDir& dir)
{
    return dir.file("absent.bin");
}

std::string folder(const TempDir& dir)
{
    std::filesystem::create_directory(dir.file("folder"));
    return dir.file("folder");
}

class ApplicationBadInputTest : public DownloadRoutineTest,
                                public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(ApplicationBadInputTest, ShowsItsMessageAndSendsNothing)
{
    const std::string path = GetParam().make(m_files);
    const RoutineOutcome outcome = downloadApplicationImage(m_op, path, Target);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{GetParam().message});
    EXPECT_TRUE(m_op.jobs().empty());
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.version);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ApplicationBadInputTest,
    ::testing::Values(
        BadInputCase{"Missing", missing, MessageId::CannotOpenImageFile},
        BadInputCase{"Directory", folder, MessageId::CannotOpenImageFile},
        BadInputCase{"Empty", bytesFile({}), MessageId::CannotOpenImageFile},
        BadInputCase{"ShortFile", bytesFile(Bytes(100, 0x55)), MessageId::NoImageFile},
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
                     MessageId::InvalidData}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, ApplicationImageUnreadableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    const std::string path = writeImage(FirmwareImageBuilder(Layout::ApplicationOnly));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    downloadApplicationImage(m_op, path, Target);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::CannotOpenImageFile});
    EXPECT_TRUE(m_op.jobs().empty());
}

TEST_F(DownloadRoutineTest, PayloadsPastTwoGiBAreRefused)
{
    const std::string path = m_files.file("huge.bin");
    if (!writeSparse(path, off_t{1} << 31))
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

// ---- integrated image ----

UnitIdentity identity(std::string mac, std::uint32_t serial, bool sendMac, bool sendSerial,
                      bool autoIncrease = false)
{
    UnitIdentity id;
    id.macText = std::move(mac);
    id.serialNumber = serial;
    id.sendMac = sendMac;
    id.sendSerial = sendSerial;
    id.autoIncrease = autoIncrease;
    return id;
}

void putBytes(Bytes& bytes, std::size_t at, std::initializer_list<std::uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST_F(DownloadRoutineTest, IntegratedImagePatchesTheCopyAndLeavesTheFile)
{
    const std::string path = writeImage(FirmwareImageBuilder().version("3.5.1"));
    const Bytes original = readFileBytes(path);
    int copiesDuringTransfer = -1;
    m_op.onTransfer([&](const DownloadJob&) {
        copiesDuringTransfer = static_cast<int>(m_temporary.entryCount());
        for (const auto& entry : std::filesystem::directory_iterator(m_temporary.path())) {
            EXPECT_EQ(entry.status().permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        }
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

    EXPECT_EQ(copiesDuringTransfer, 1);
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

    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{c.message});
    EXPECT_TRUE(m_op.jobs().empty());
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
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    const std::string path = writeImage(FirmwareImageBuilder());
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    downloadIntegratedImage(m_op, path, Target, identity(GoodMac, 1, true, true));
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::CannotOpenImageFile});
    EXPECT_TRUE(m_op.jobs().empty());
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

TEST_F(DownloadRoutineTest, IntegratedCopyFailsCleanlyWithoutATemporaryFolder)
{
    const std::string path = writeImage(FirmwareImageBuilder());
    ScopedEnvironment gone("TMPDIR", m_temporary.file("does-not-exist"));
    downloadIntegratedImage(m_op, path, Target, identity(GoodMac, 1, true, true));
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{MessageId::CannotOpenImageFile});
    EXPECT_TRUE(m_op.jobs().empty());
}

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

// ---- PTZ image ----

constexpr std::size_t PtzSize = 64660;

std::uint32_t wordAt(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A PTZ image of pattern bytes whose first word makes the sum of all words 0.
Bytes validPtzImage()
{
    Bytes bytes(PtzSize);
    for (std::size_t i = 4; i < PtzSize; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    std::uint32_t sum = 0;
    for (std::size_t at = 4; at < PtzSize; at += 4)
        sum += wordAt(bytes, at);
    const std::uint32_t check = 0u - sum;
    bytes[0] = static_cast<std::uint8_t>(check);
    bytes[1] = static_cast<std::uint8_t>(check >> 8);
    bytes[2] = static_cast<std::uint8_t>(check >> 16);
    bytes[3] = static_cast<std::uint8_t>(check >> 24);
    return bytes;
}

TEST_F(DownloadRoutineTest, PtzImageIsSentByteForByte)
{
    const Bytes image = validPtzImage();
    const std::string path = writeBytes(image, "ptz.bin");
    const RoutineOutcome outcome = downloadPtzImage(m_op, path, Target);
    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 1u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, 0x55AB0008u);
    EXPECT_EQ(m_op.jobs()[0].payloadSize, 64660);
    EXPECT_EQ(m_op.jobs()[0].payload, image);
    EXPECT_TRUE(outcome.succeeded);
}

TEST_F(DownloadRoutineTest, PtzImageAllZeroPasses)
{
    const std::string path = writeBytes(Bytes(PtzSize, 0), "ptz.bin");
    downloadPtzImage(m_op, path, Target);
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_EQ(m_op.jobs().size(), 1u);
}

struct PtzBadCase {
    std::string name;
    std::function<std::string(const TempDir&)> make;
    MessageId message;
};

Bytes withChangedByte(std::size_t at)
{
    Bytes bytes = validPtzImage();
    bytes[at] ^= 0x40;
    return bytes;
}

Bytes resized(std::size_t size)
{
    Bytes bytes = validPtzImage();
    bytes.resize(size, 0);
    return bytes;
}

class PtzBadInputTest : public DownloadRoutineTest,
                        public ::testing::WithParamInterface<PtzBadCase> {};

TEST_P(PtzBadInputTest, ShowsItsMessageAndSendsNothing)
{
    const std::string path = GetParam().make(m_files);
    downloadPtzImage(m_op, path, Target);
    EXPECT_EQ(m_op.messages(), std::vector<MessageId>{GetParam().message});
    EXPECT_TRUE(m_op.jobs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PtzBadInputTest,
    ::testing::Values(
        PtzBadCase{"Missing", missing, MessageId::CannotOpenImageFile},
        PtzBadCase{"Directory", folder, MessageId::CannotOpenImageFile},
        PtzBadCase{"Empty", bytesFile({}), MessageId::CannotOpenImageFile},
        PtzBadCase{"OneByteShort", bytesFile(resized(PtzSize - 1)), MessageId::InvalidPtzImage},
        // The extra byte is 0, so the word sum alone would not notice it.
        PtzBadCase{"OneByteLong", bytesFile(resized(PtzSize + 1)), MessageId::InvalidPtzImage},
        PtzBadCase{"ChecksumByte", bytesFile(withChangedByte(0)), MessageId::InvalidPtzImage},
        PtzBadCase{"ChecksumTopByte", bytesFile(withChangedByte(3)), MessageId::InvalidPtzImage},
        PtzBadCase{"FirstDataByte", bytesFile(withChangedByte(4)), MessageId::InvalidPtzImage},
        PtzBadCase{"MiddleByte", bytesFile(withChangedByte(33333)), MessageId::InvalidPtzImage},
        PtzBadCase{"LastByte", bytesFile(withChangedByte(PtzSize - 1)),
                   MessageId::InvalidPtzImage}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, FifoGetsItsMessageAtOnceAndNothingIsSent)
{
    const std::string path = m_files.file("pipe.bin");
    ASSERT_TRUE(test::makeFifo(path));
    const UnitIdentity unit{"0012AB34CD56", 1, true, true, false};
    struct Routine {
        const char* name;
        std::function<RoutineOutcome(RecordingOperator&)> run;
        MessageId message;
    };
    const Routine routines[] = {
        {"application",
         [&](RecordingOperator& op) { return downloadApplicationImage(op, path, Target); },
         MessageId::CannotOpenImageFile},
        {"integrated",
         [&](RecordingOperator& op) { return downloadIntegratedImage(op, path, Target, unit); },
         MessageId::NoImageFile},
        {"ptz", [&](RecordingOperator& op) { return downloadPtzImage(op, path, Target); },
         MessageId::CannotOpenImageFile},
    };
    for (const Routine& routine : routines) {
        RecordingOperator op;
        const auto outcome = test::callOnFifo(path, [&] { return routine.run(op); });
        ASSERT_TRUE(outcome.has_value()) << routine.name;
        EXPECT_FALSE(outcome->succeeded) << routine.name;
        EXPECT_EQ(op.messages(), std::vector<MessageId>{routine.message}) << routine.name;
        EXPECT_TRUE(op.jobs().empty()) << routine.name;
    }
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

TEST(PtzImageBytes, AnySingleChangedByteIsInvalid)
{
    Bytes bytes = validPtzImage();
    ASSERT_TRUE(isValidPtzImageBytes(bytes.data(), bytes.size()));
    for (std::size_t at = 0; at < PtzSize; at += 97) {
        for (const std::uint8_t flip : {0x01, 0x80}) {
            bytes[at] ^= flip;
            EXPECT_FALSE(isValidPtzImageBytes(bytes.data(), bytes.size())) << "byte " << at;
            bytes[at] ^= flip;
        }
    }
}

TEST(PtzImageBytes, WorkedByHand)
{
    // 1 + 2 + 0xFFFFFFFD = 0 modulo 2^32.
    Bytes bytes(PtzSize, 0);
    putBytes(bytes, 0, {0xFD, 0xFF, 0xFF, 0xFF});
    putBytes(bytes, 4, {0x01, 0x00, 0x00, 0x00});
    putBytes(bytes, PtzSize - 4, {0x02, 0x00, 0x00, 0x00});
    EXPECT_TRUE(isValidPtzImageBytes(bytes.data(), bytes.size()));
    EXPECT_FALSE(isValidPtzImageBytes(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(isValidPtzImageBytes(nullptr, PtzSize));
}

} // namespace
} // namespace tolvane
