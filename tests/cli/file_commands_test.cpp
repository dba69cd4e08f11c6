// version, inspect and the ptz commands, with inputs written by hand and outputs read back with
// plain file I/O.
#include "cli/cli_test_support.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/ptz_image_bytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <streambuf>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {
namespace {

using namespace cli_test;

constexpr std::size_t RecordSize = 1796;
constexpr std::size_t ImageSize = 64660;

bool fileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_alpha = test::handMadeProtocolRecord(7, "Alpha");
        m_bravo = test::handMadeProtocolRecord(3, "Bravo");
        m_charlie = test::handMadeProtocolRecord(12, "Charlie Camera 12");
        m_database = m_dir.file("cameras.pdb");
        test::writeFileBytes(m_database, test::handMadeDatabase({m_alpha, m_bravo, m_charlie}));
    }

    test::TempDir m_dir;
    Bytes m_alpha, m_bravo, m_charlie;
    std::string m_database;
};

TEST_F(FileCommands, BuildWritesProtocolsInTheOrderGivenWithAZeroWordSum)
{
    const std::string out = m_dir.file("out.bin");
    const auto run = test::runTolvaneCli({"ptz", "build", m_database, "12", "7", "--output", out});
    ASSERT_EQ(run.status, 0) << run.err;

    const Bytes image = test::readFileBytes(out);
    ASSERT_EQ(image.size(), ImageSize);
    EXPECT_EQ(test::littleEndianWordSum(image), 0u);
    EXPECT_TRUE(std::equal(m_charlie.begin(), m_charlie.end(), image.begin() + 4));
    EXPECT_TRUE(std::equal(m_alpha.begin(), m_alpha.end(), image.begin() + 4 + RecordSize));
    EXPECT_TRUE(std::all_of(image.begin() + 4 + 2 * RecordSize, image.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));

    EXPECT_EQ(test::runTolvaneCli({"ptz", "verify", out}).status, 0);
    const auto show = test::runTolvaneCli({"ptz", "show", out});
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out, "[012]Charlie Camera 12\n[007]Alpha\n");
}

TEST_F(FileCommands, BuildOfAllThirtySixFillsEverySlot)
{
    std::vector<Bytes> records;
    Args args = {"ptz", "build", m_dir.file("big.pdb")};
    for (int i = 0; i < 36; ++i) {
        records.push_back(test::handMadeProtocolRecord(100 + i, "P" + std::to_string(i)));
        args.push_back(std::to_string(135 - i)); // reverse order
    }
    test::writeFileBytes(m_dir.file("big.pdb"), test::handMadeDatabase(records));
    const std::string out = m_dir.file("full.bin");
    args.insert(args.end(), {"--output", out});
    ASSERT_EQ(test::runTolvaneCli(args).status, 0);
    const Bytes image = test::readFileBytes(out);
    ASSERT_EQ(image.size(), ImageSize);
    EXPECT_EQ(test::littleEndianWordSum(image), 0u);
    for (int slot = 0; slot < 36; ++slot) {
        const Bytes& expected = records[35 - slot];
        EXPECT_TRUE(
            std::equal(expected.begin(), expected.end(), image.begin() + 4 + slot * RecordSize))
            << "slot " << slot;
    }
}

struct BuildFailure {
    const char* name;
    Args numbers;
    std::string reason; // {db} is the database's path
    int status = 1;
};

void PrintTo(const BuildFailure& c, std::ostream* out)
{
    *out << c.name;
}

class PtzBuildFailures : public FileCommands, public ::testing::WithParamInterface<BuildFailure> {};

TEST_P(PtzBuildFailures, ExitWithTheirStatusAndReasonAndWriteNothing)
{
    const std::string out = m_dir.file("out.bin");
    Args args = {"ptz", "build", m_database};
    args.insert(args.end(), GetParam().numbers.begin(), GetParam().numbers.end());
    args.insert(args.end(), {"--output", out});
    const auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, GetParam().status);
    std::string reason = GetParam().reason;
    if (const auto at = reason.find("{db}"); at != std::string::npos)
        reason.replace(at, 4, m_database);
    EXPECT_THAT(run.err, HasSubstr(reason));
    EXPECT_FALSE(fileExists(out));
}

Args manyNumbers()
{
    Args numbers;
    for (int i = 0; i < 37; ++i)
        numbers.push_back(std::to_string(i));
    return numbers;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PtzBuildFailures,
    ::testing::Values(
        BuildFailure{"Unknown", {"7", "99", "98"}, "tolvane-cli: not in {db}: protocol 99, 98\n"},
        BuildFailure{"Duplicate", {"7", "3", "7"}, "tolvane-cli: protocol 7 given twice\n", 2},
        BuildFailure{"TooMany", manyNumbers(), "at most 36"},
        BuildFailure{"EmptySlotMarker", {"-1"}, "empty slot"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(FileCommands, BuildRefusesADatabaseThatIsMissingCutShortOrNotADatabase)
{
    Bytes cut = test::handMadeDatabase({m_alpha, m_bravo, m_charlie});
    cut.resize(cut.size() - 1);
    test::writeFileBytes(m_dir.file("cut.pdb"), cut);
    test::writeFileBytes(m_dir.file("other.pdb"), Bytes(100, 0x41));
    for (const char* name : {"absent.pdb", "cut.pdb", "other.pdb"}) {
        const std::string out = m_dir.file("out.bin");
        const auto run =
            test::runTolvaneCli({"ptz", "build", m_dir.file(name), "7", "--output", out});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_NE(run.err, "") << name;
        EXPECT_FALSE(fileExists(out)) << name;
    }
}

// An output that is a folder or a FIFO is refused before the database is read or anything is
// written, and stays as it was.
TEST_F(FileCommands, BuildRefusesAnOutputThatIsNotARegularFile)
{
    const std::string folder = m_dir.file("folder.bin");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string fifo = m_dir.file("fifo.bin");
    ASSERT_TRUE(test::makeFifo(fifo));
    for (const std::string& output : {folder, fifo}) {
        const auto run = test::callOnFifo(fifo, [&] {
            return test::runTolvaneCli({"ptz", "build", m_database, "7", "--output", output});
        });
        ASSERT_TRUE(run);
        EXPECT_EQ(run->status, 1) << output;
        EXPECT_EQ(run->err, "tolvane-cli: " + output + " is not a regular file\n");
        EXPECT_EQ(run->out, "");
    }
    struct stat info {};
    EXPECT_TRUE(::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
    EXPECT_TRUE(::stat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

class BuildOverTheDatabase : public FileCommands,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(BuildOverTheDatabase, IsRefusedAndTheDatabaseStaysIntact)
{
    const std::string how = GetParam();
    std::string output = m_database;
    if (how == "dot path")
        output = m_dir.path() + "/./cameras.pdb";
    if (how == "symbolic link") {
        output = m_dir.file("link.bin");
        ASSERT_EQ(::symlink(m_database.c_str(), output.c_str()), 0);
    }
    if (how == "hard link") {
        output = m_dir.file("hard.bin");
        ASSERT_EQ(::link(m_database.c_str(), output.c_str()), 0);
    }
    const Bytes before = test::readFileBytes(m_database);
    const auto run = test::runTolvaneCli({"ptz", "build", m_database, "7", "--output", output});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("is the database"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(test::readFileBytes(m_database), before);
    EXPECT_EQ(test::readFileBytes(output), before);
}

INSTANTIATE_TEST_SUITE_P(Ways, BuildOverTheDatabase,
                         ::testing::Values("same path", "dot path", "symbolic link", "hard link"),
                         [](const auto& testInfo) {
                             std::string name = testInfo.param;
                             std::erase(name, ' ');
                             return name;
                         });

TEST_F(FileCommands, NamesFromFilesCannotDriveTheTerminal)
{
    // ESC [2J clears the screen, BEL ends a title sequence, C2 9B is the one-character CSI; é
    // is printed as it is.
    const std::string name = "A\x1b[2J\x07\x7f\xc2\x9b\xff\xc3\xa9";
    test::writeFileBytes(m_dir.file("evil.pdb"),
                         test::handMadeDatabase({test::handMadeProtocolRecord(9, name)}));
    const char* const shown = "[009]A\\x1B[2J\\x07\\x7F\\xC2\\x9B\\xFF\xc3\xa9";

    auto run = test::runTolvaneCli({"ptz", "show", m_dir.file("evil.pdb")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string(shown) + "\n");
    run = test::runTolvaneCli({"inspect", m_dir.file("evil.pdb")});
    EXPECT_THAT(run.out, HasSubstr(std::string("Protocols: 1\n  ") + shown + "\n"));

    const std::string image = m_dir.file("evil.bin");
    ASSERT_EQ(test::runTolvaneCli({"ptz", "build", m_dir.file("evil.pdb"), "9", "--output", image})
                  .status,
              0);
    run = test::runTolvaneCli({"ptz", "show", image});
    EXPECT_EQ(run.out, std::string(shown) + "\n");
    run = test::runTolvaneCli({"inspect", image});
    EXPECT_THAT(run.out, HasSubstr(std::string("Protocols: 1\n  ") + shown + "\n"));
    EXPECT_THAT(run.out, Not(HasSubstr("\x1b")));
}

TEST_F(FileCommands, ShowListsDatabaseRowsInFileOrder)
{
    const auto run = test::runTolvaneCli({"ptz", "show", m_database});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[007]Alpha\n[003]Bravo\n[012]Charlie Camera 12\n");
    const auto other = test::runTolvaneCli({"ptz", "show", m_dir.file("absent.bin")});
    EXPECT_EQ(other.status, 1);
}

// A valid image whose checksum word begins with the bytes "PD": slot 0 holds protocol 1, "Cam";
// the other slots are empty (0xFF) but for the last word, which brings the sum to 0.
TEST_F(FileCommands, AnImageWhoseChecksumStartsWithPDIsStillAnImage)
{
    Bytes image(test::PtzImageSize, 0xFF);
    const Bytes head = {'P', 'D', 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 'C', 'a', 'm', 0x00};
    std::copy(head.begin(), head.end(), image.begin());
    std::fill(image.begin() + 12, image.begin() + 4 + 1796, 0x00);
    // The last word is 0xFFFFFFFF now; lowering it by the sum makes the sum 0.
    const std::uint32_t last = 0xFFFFFFFFu - test::littleEndianWordSum(image);
    for (std::size_t b = 0; b < 4; ++b)
        image[test::PtzImageSize - 4 + b] = static_cast<std::uint8_t>(last >> (8 * b));
    ASSERT_EQ(test::littleEndianWordSum(image), 0u);
    test::writeFileBytes(m_dir.file("pd.bin"), image);

    const auto show = test::runTolvaneCli({"ptz", "show", m_dir.file("pd.bin")});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out, "[001]Cam\n");
    const auto inspect = test::runTolvaneCli({"inspect", m_dir.file("pd.bin")});
    EXPECT_THAT(inspect.out, HasSubstr("Kind: PTZ image\n"));
    EXPECT_THAT(inspect.out, Not(HasSubstr("database")));
}

struct VerifyCase {
    const char* name;
    std::size_t size;
    bool breakOneByte;
    bool valid;
};

class PtzVerify : public FileCommands, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(PtzVerify, ExitStatusFollowsSizeAndWordSum)
{
    const VerifyCase& c = GetParam();
    // An image of empty slots with its checksum: 24 3F 00 00, then 0xFF; or all zero bytes.
    Bytes bytes(ImageSize, 0xFF);
    bytes[0] = 0x24, bytes[1] = 0x3F, bytes[2] = 0x00, bytes[3] = 0x00;
    if (std::string(c.name) == "AllZero")
        bytes.assign(ImageSize, 0);
    bytes.resize(c.size, 0xFF);
    if (c.breakOneByte)
        bytes[40000] ^= 0x01;
    const std::string path = m_dir.file("image.bin");
    test::writeFileBytes(path, bytes);
    const auto run = test::runTolvaneCli({"ptz", "verify", path});
    EXPECT_EQ(run.status, c.valid ? 0 : 1);
    EXPECT_EQ(run.err, c.valid ? "" : "tolvane-cli: This PTZ image file is invalid. \n");
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Table, PtzVerify,
                         ::testing::Values(VerifyCase{"EmptyImage", ImageSize, false, true},
                                           VerifyCase{"AllZero", ImageSize, false, true},
                                           VerifyCase{"OneByteChanged", ImageSize, true, false},
                                           VerifyCase{"OneByteShort", ImageSize - 1, false, false},
                                           VerifyCase{"OneByteLong", ImageSize + 1, false, false},
                                           VerifyCase{"Empty", 0, false, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(FileCommands, VersionPrintsNumberOrTheMessageForEachFailure)
{
    test::FirmwareImageBuilder().version("3.5.1").writeTo(m_dir.file("full.img"));
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.7.2")
        .writeTo(m_dir.file("app.img"));
    test::FirmwareImageBuilder().version("3.5.1").corruptCrc().writeTo(m_dir.file("crc.img"));
    test::FirmwareImageBuilder().version("0.0.0").writeTo(m_dir.file("zero.img"));

    auto run = test::runTolvaneCli({"version", m_dir.file("full.img")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "3.5.1 (0x03050100)\n");
    run = test::runTolvaneCli({"version", m_dir.file("app.img"), "--app-only"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "3.7.2 (0x03070200)\n");

    run = test::runTolvaneCli({"version", m_dir.file("crc.img")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "") << "decoder diagnostics stay off stdout";
    EXPECT_EQ(run.err, "tolvane-cli: invalid compressed data--crc error\ntolvane-cli: There is not "
                       "image file.\n");
    run = test::runTolvaneCli({"version", m_dir.file("app.img")}); // wrong layout
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("There is not image file.\n"));
    run = test::runTolvaneCli({"version", m_dir.file("zero.img")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tolvane-cli: There is a invalid data. Please, input again.\n");
    run = test::runTolvaneCli({"version", m_dir.file("absent.img")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("No such file"));
    EXPECT_THAT(run.err, HasSubstr("There is a invalid data. Please, input again.\n"));
}

// One file of each kind inspect tells apart; answers the integrated image's bytes.
Bytes writeOneFileOfEachKind(const test::TempDir& dir, const std::string& database)
{
    // An integrated image with an identity patched in by hand.
    Bytes integrated = test::FirmwareImageBuilder().version("3.5.1").build();
    const Bytes identity = {0xAB, 0x12, 0x00, 0x00, 0x56, 0xCD, 0x34, 0x00, 0x00, 0x00, 0x30, 0x39};
    std::copy(identity.begin(), identity.end(), integrated.begin() + 0xFF80);
    test::writeFileBytes(dir.file("full.img"), integrated);
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.7.2")
        .writeTo(dir.file("app.img"));
    EXPECT_EQ(test::runTolvaneCli({"ptz", "build", database, "3", "--output", dir.file("ptz.bin")})
                  .status,
              0);
    Bytes broken = test::readFileBytes(dir.file("ptz.bin"));
    broken[100] ^= 0x10; // low byte of a word of Bravo's commands, 0xCB: the sum grows by 0x10
    test::writeFileBytes(dir.file("broken.bin"), broken);
    test::writeFileBytes(dir.file("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o'});

    return integrated;
}

TEST_F(FileCommands, InspectTellsEachKindOfFile)
{
    const Bytes integrated = writeOneFileOfEachKind(m_dir, m_database);
    auto run = test::runTolvaneCli({"inspect", m_dir.file("full.img")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Size: " + std::to_string(integrated.size()) + " bytes\n"));
    EXPECT_THAT(run.out, HasSubstr("Kind: integrated firmware image\n"));
    EXPECT_THAT(run.out, HasSubstr("Version, integrated layout: 3.5.1 (0x03050100)\n"));
    EXPECT_THAT(run.out, HasSubstr("Version, application-only layout: none"));
    EXPECT_THAT(run.out,
                HasSubstr("MAC bytes at 0xFF80: AB 12 00 00 56 CD 34 00 -> 0012AB34CD56\n"));
    EXPECT_THAT(run.out, HasSubstr("Serial number bytes at 0xFF88: 00 00 30 39 -> 12345\n"));

    run = test::runTolvaneCli({"inspect", m_dir.file("app.img")});
    EXPECT_THAT(run.out, HasSubstr("Kind: application-only firmware image\n"));
    EXPECT_THAT(run.out, HasSubstr("Version, application-only layout: 3.7.2 (0x03070200)\n"));
    EXPECT_THAT(run.out, HasSubstr("Announced as application-only image: 3.5.2 (0x03050200)\n"));
    EXPECT_THAT(run.out, Not(HasSubstr("MAC bytes")));

    run = test::runTolvaneCli({"inspect", m_dir.file("ptz.bin")});
    EXPECT_THAT(run.out, HasSubstr("Kind: PTZ image\n"));
    EXPECT_THAT(run.out, HasSubstr("Checksum: holds (word sum 0x00000000)\n"));
    EXPECT_THAT(run.out, HasSubstr("Protocols: 1\n  [003]Bravo\n"));

    // show lists the rows of a damaged image but says a recorder would refuse it.
    run = test::runTolvaneCli({"ptz", "show", m_dir.file("broken.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "[003]Bravo\n");
    EXPECT_EQ(run.err, "tolvane-cli: This PTZ image file is invalid. \n");

    run = test::runTolvaneCli({"inspect", m_dir.file("broken.bin")});
    EXPECT_THAT(run.out, HasSubstr("Kind: PTZ image with a bad checksum\n"));
    EXPECT_THAT(run.out, HasSubstr("Checksum: does not hold (word sum 0x00000010)\n"));

    run = test::runTolvaneCli({"inspect", m_database});
    EXPECT_THAT(run.out, HasSubstr("Kind: PTZ protocol database\n"));
    EXPECT_THAT(run.out, HasSubstr("Protocols: 3\n  [007]Alpha\n  [003]Bravo\n"));

    run = test::runTolvaneCli({"inspect", m_dir.file("text.txt")});
    EXPECT_EQ(run.status, 0);
    // SHA-256 of "hello", worked out elsewhere.
    EXPECT_THAT(run.out,
                HasSubstr("SHA-256: "
                          "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824\n"));
    EXPECT_THAT(run.out, HasSubstr("Kind: unknown\n"));

    run = test::runTolvaneCli({"inspect", m_dir.file("absent")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("Can't open the image file."));
}

// Standard output that takes nothing, as on a full disk.
class FullDisk : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

// Results that cannot be written are a failure, said on stderr, whatever the command.
TEST_F(FileCommands, ResultsThatCannotBeWrittenFailTheCommand)
{
    test::FirmwareImageBuilder().version("3.5.1").writeTo(m_dir.file("full.img"));
    const std::vector<std::string> commands[] = {{"version", m_dir.file("full.img")},
                                                 {"inspect", m_dir.file("full.img")},
                                                 {"ptz", "show", m_database},
                                                 {"--help"}};
    for (const auto& args : commands) {
        FullDisk disk;
        std::ostream out(&disk);
        std::ostringstream err;
        EXPECT_EQ(cli::runCli(args, out, err, {}), 1) << args.front();
        EXPECT_THAT(err.str(), HasSubstr("cannot write the results to standard output"))
            << args.front();
    }
}

} // namespace
} // namespace tolvane
