// Single-unit downloads end to end: the command line against an in-process simulator on
// 127.0.0.1, with the bytes checked as the simulator received them.
#include "cli/cli_test_support.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/transfer_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tolvane {
namespace {

using namespace cli_test;

TEST_F(CliDownload, ApplicationImageSendsAnnouncedVersionThenTheFileUnchanged)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.7.2")
        .writeTo(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const auto transfers = received(*simulator, 2);
    ASSERT_EQ(transfers.size(), 2u);
    // 3.7.2 is announced as 3.5.2: 0x03050200, least significant byte first.
    EXPECT_EQ(payloadOfType(transfers, VersionCode), bytesOf({0x00, 0x02, 0x05, 0x03}));
    EXPECT_EQ(payloadOfType(transfers, ApplicationCode), test::readFileBytes(image));
}

TEST_F(CliDownload, RefusedVersionStopsBeforeTheImageAndFails)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.4.0")
        .writeTo(image);
    auto simulator = startSimulator(sim::Fault::None, 0x03050000);
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("The firmware is Incompatible with the DVR.\n"));
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, VersionCode);
}

TEST_F(CliDownload, DecoderDiagnosticsGoToStderrWithTheMessageAndNothingIsSent)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.5.1")
        .corruptCrc()
        .writeTo(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("invalid compressed data--crc error\n"));
    EXPECT_THAT(run.err, HasSubstr("There is not image file.\n"));
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, IntegratedImageCarriesIdentityAndPrintsNextMac)
{
    const std::string image = m_dir.file("full.img");
    test::FirmwareImageBuilder().version("3.5.1").writeTo(image);
    const Bytes original = test::readFileBytes(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli({"download", "integrated", image, "--target",
                                          simulator->address(), "--mac", "0012ab34cd56", "--serial",
                                          "1", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    // The next MAC address, then the next serial number.
    EXPECT_EQ(run.out, "0012AB34CD57\n2\n");
    const auto transfers = received(*simulator, 2);
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(payloadOfType(transfers, VersionCode), bytesOf({0x00, 0x01, 0x05, 0x03}));
    Bytes expected = original;
    const Bytes identity = bytesOf({0xAB, 0x12, 0x00, 0x00, 0x56, 0xCD, 0x34, 0x00, 0, 0, 0, 1});
    std::copy(identity.begin(), identity.end(), expected.begin() + 0xFF80);
    EXPECT_EQ(payloadOfType(transfers, IntegratedCode), expected);
    EXPECT_EQ(test::readFileBytes(image), original) << "the chosen file is never changed";
}

TEST_F(CliDownload, FailedImageTransferFailsButStillAdvancesTheIntegratedMac)
{
    const std::string image = m_dir.file("full.img");
    test::FirmwareImageBuilder().version("3.5.1").writeTo(image);
    // The compatibility check is acknowledged once, so only the image meets the second ack.
    auto simulator = startSimulator(sim::Fault::CloseAfterFirstAck);
    const auto run =
        test::runTolvaneCli({"download", "integrated", image, "--target", simulator->address(),
                             "--mac", "0012AB34CD56", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "0012AB34CD57\n") << "the version check passed, as the desktop rule has it";
    EXPECT_THAT(run.err, HasSubstr("Can't write a firmware.\n"));
}

TEST_F(CliDownload, PtzImageIsSentByteForByte)
{
    // A new image written by hand: checksum 24 3F 00 00, then 36 empty slots.
    Bytes file = bytesOf({0x24, 0x3F, 0x00, 0x00});
    file.resize(64660, 0xFF);
    const std::string path = m_dir.file("ptz.bin");
    test::writeFileBytes(path, file);
    auto simulator = startSimulator();
    const auto run =
        test::runTolvaneCli({"download", "ptz", path, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, PtzCode);
    EXPECT_EQ(transfers[0].payload, file);
}

TEST_F(CliDownload, InvalidPtzImageIsRefusedWithoutConnecting)
{
    Bytes file(64660, 0xFF); // word sum not 0
    const std::string path = m_dir.file("bad.bin");
    test::writeFileBytes(path, file);
    auto simulator = startSimulator();
    const auto run =
        test::runTolvaneCli({"download", "ptz", path, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tolvane-cli: This PTZ image file is invalid. \n");
    expectNothingReceived(*simulator);
}

enum class BadFile { Missing, Folder, Fifo };

struct BadFileCase {
    const char* name;
    const char* type; // app, integrated or ptz
    BadFile file;
    const char* reason;
};

void PrintTo(const BadFileCase& c, std::ostream* out)
{
    *out << c.name;
}

class CliBadFile : public CliDownload, public ::testing::WithParamInterface<BadFileCase> {};

// The file is looked at before the record: the routine's message and a line naming the file and
// why; no record, no connection.
TEST_P(CliBadFile, IsRefusedBeforeTheRecordIsOpened)
{
    const BadFileCase& c = GetParam();
    const std::string path = m_dir.file("image");
    if (c.file == BadFile::Folder) {
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    }
    if (c.file == BadFile::Fifo) {
        ASSERT_TRUE(test::makeFifo(path));
    }
    const std::string record = m_dir.file("units.db");
    auto simulator = startSimulator();
    const auto run = test::callOnFifo(path, [&] {
        return test::runTolvaneCli({"download", c.type, path, "--target", simulator->address(),
                                    "--record", record, "--quiet"});
    });
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, 1);
    const std::string said =
        c.file == BadFile::Missing ? "There is not image file." : "Can't open the image file.";
    EXPECT_EQ(run->err, "tolvane-cli: " + said + "\ntolvane-cli: " + path + ": " + c.reason + "\n");
    EXPECT_EQ(run->out, "");
    struct stat info {};
    EXPECT_NE(::stat(record.c_str(), &info), 0) << "a record was created";
    expectNothingReceived(*simulator);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliBadFile,
    ::testing::Values(
        BadFileCase{"MissingApp", "app", BadFile::Missing, "No such file or directory"},
        BadFileCase{"MissingIntegrated", "integrated", BadFile::Missing,
                    "No such file or directory"},
        BadFileCase{"MissingPtz", "ptz", BadFile::Missing, "No such file or directory"},
        BadFileCase{"FolderApp", "app", BadFile::Folder, "not a regular file"},
        BadFileCase{"FolderPtz", "ptz", BadFile::Folder, "not a regular file"},
        BadFileCase{"FifoIntegrated", "integrated", BadFile::Fifo, "not a regular file"},
        BadFileCase{"FifoPtz", "ptz", BadFile::Fifo, "not a regular file"}),
    [](const auto& row) { return std::string(row.param.name); });

struct DataCase {
    const char* name;
    Args options;
    std::uint32_t typeCode;
    Bytes payload;
    const char* nextMac; // printed with --auto-increase, "" for none
};

class CliDataDownload : public ::testing::TestWithParam<DataCase> {};

TEST_P(CliDataDownload, PicksTheVariantFromTheOptionsGiven)
{
    const DataCase& c = GetParam();
    auto simulator = startSimulator();
    Args args = {"download", "data", "--target", simulator->address(), "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.nextMac);
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, c.typeCode);
    EXPECT_EQ(transfers[0].payload, c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CliDataDownload,
    ::testing::Values(
        DataCase{"MacAndSerial",
                 {"--mac", "0012AB34CD56", "--serial", "1"},
                 MacSerialCode,
                 bytesOf({0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56, 0x01, 0x00, 0x00, 0x00}),
                 ""},
        DataCase{"MacOnlyAdvancing",
                 {"--mac", "0012ab34cd56", "--auto-increase"},
                 MacCode,
                 bytesOf({0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56}),
                 "0012AB34CD57\n"},
        DataCase{"CarryIntoUpperHalf",
                 {"--mac", "000000FFFFFF", "--serial", "7", "--auto-increase"},
                 MacSerialCode,
                 bytesOf({0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00}),
                 "000001000000\n8\n"},
        DataCase{"SerialOnly",
                 {"--serial", "305419896"},
                 SerialCode,
                 bytesOf({0x78, 0x56, 0x34, 0x12}),
                 ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CliDownload, FailedDataTransferFailsAndGivesNoNextMacForOneUnit)
{
    auto simulator = startSimulator(sim::Fault::Refuse);
    const auto run = test::runTolvaneCli({"download", "data", "--target", simulator->address(),
                                          "--mac", "0012AB34CD56", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("Can't write a firmware.\n"));
}

TEST_F(CliDownload, UnreachableRecorderAndMissingImageFail)
{
    const test::UnusedPort closed;
    const std::string closedAddress = "127.0.0.1:" + std::to_string(closed.port());
    auto run =
        test::runTolvaneCli({"download", "data", "--target", closedAddress, "--serial", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("Can't connect to the machine.\n"));

    auto simulator = startSimulator();
    run = test::runTolvaneCli(
        {"download", "integrated", m_dir.file("absent.img"), "--target", simulator->address()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tolvane-cli: There is not image file.\ntolvane-cli: " +
                           m_dir.file("absent.img") + ": No such file or directory\n");
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, ProgressIsPlainLinesOffATerminalRedrawnOnOneAndAbsentWhenQuiet)
{
    auto simulator = startSimulator();
    const Args args = {"download", "data", "--target", simulator->address(), "--serial", "1"};
    const auto plain = test::runTolvaneCli(args, false);
    EXPECT_EQ(plain.status, 0);
    EXPECT_THAT(plain.err, HasSubstr("serial number: Downloading...\n"));
    EXPECT_THAT(plain.err, HasSubstr("serial number: 100%\n"));
    EXPECT_THAT(plain.err, Not(HasSubstr("\x1b[")));

    const auto terminal = test::runTolvaneCli(args, true);
    EXPECT_EQ(terminal.status, 0);
    EXPECT_THAT(terminal.err, HasSubstr("\x1b[1A\r\x1b[2K"));
    EXPECT_THAT(terminal.err, HasSubstr("[####################] 100%"));

    Args quiet = args;
    quiet.push_back("--quiet");
    EXPECT_EQ(test::runTolvaneCli(quiet, true).err, "");
    received(*simulator, 3);
}

} // namespace
} // namespace tolvane
