// The small pieces the command line is built on: SHA-256, unit ids and times of the production
// record, printable text and target addresses.
#include "record/record_entry.h"
#include "record/sha256.h"
#include "service/targets.h"
#include "service/terminal_text.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tolvane::cli {
namespace {

using record::isoUtcTime;
using record::newUnitId;
using record::sha256Hex;
using record::sha256OfFile;

struct ShaVector {
    std::string input;
    const char* digest;
};

class Sha256Vectors : public ::testing::TestWithParam<ShaVector> {};

TEST_P(Sha256Vectors, DigestMatchesPublishedValue)
{
    EXPECT_EQ(sha256Hex(GetParam().input).value(), GetParam().digest);
}

// FIPS 180-4 examples; the 56-byte one needs a second padding block, the 64-byte one fills a block.
INSTANTIATE_TEST_SUITE_P(
    Fips, Sha256Vectors,
    ::testing::Values(
        ShaVector{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        ShaVector{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        ShaVector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        ShaVector{std::string(64, 'a'),
                  "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"}));

TEST(Sha256, FileDigestEqualsDigestOfItsContentAndMissingFileFails)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("million"), std::ios::binary);
        file << std::string(1'000'000, 'a');
    }
    EXPECT_EQ(sha256OfFile(dir.file("million")).value(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    const auto absent = sha256OfFile(dir.file("absent"));
    ASSERT_FALSE(absent);
    const std::string error = absent.failure().text();
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

struct PrintableCase {
    std::string raw;
    const char* shown;
};

class PrintableText : public ::testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableText, ControlAndInvalidBytesAreShownAsHex)
{
    EXPECT_EQ(service::printableText(GetParam().raw), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintableText,
    ::testing::Values(
        PrintableCase{"Pelco-D 9600", "Pelco-D 9600"},
        PrintableCase{"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"}, // é and € kept
        PrintableCase{"\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},               // window title
        PrintableCase{"a\x1b[2Jb\r\n\x7f", "a\\x1B[2Jb\\x0D\\x0A\\x7F"},
        PrintableCase{std::string("nul\0x", 5), "nul\\x00x"},
        PrintableCase{"\xc2\x9b"
                      "2J \xc2\xa0",
                      "\\xC2\\x9B"
                      "2J \xc2\xa0"},                                // C1 CSI; no-break space kept
        PrintableCase{"\xff\xc3 \xe2\x82", "\\xFF\\xC3 \\xE2\\x82"}, // not UTF-8
        PrintableCase{"\xc0\xaf\xed\xa0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"})); // overlong, surrogate

TEST(RecordUnitId, IdsDiffer)
{
    const std::string first = newUnitId();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
    EXPECT_NE(first, newUnitId());
}

TEST(IsoUtcTime, FormatsUtcWithMilliseconds)
{
    // 2026-12-08 06:19:37.045 UTC
    const std::chrono::system_clock::time_point time{std::chrono::milliseconds(1796710777045LL)};
    EXPECT_EQ(isoUtcTime(time), "2026-12-08T06:19:37.045Z");
}

TEST(TargetsFile, SkipsBlankLinesAndCommentsAndNamesTheBadLine)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("good"));
        file << "# bench 1\n\n127.0.0.1:6001\n  127.0.0.1   # second unit\n\t\n127.0.0.1:6003\r\n";
    }
    std::string error;
    const auto targets = service::readTargetsFile(dir.file("good"), &error);
    ASSERT_TRUE(targets) << error;
    ASSERT_EQ(targets->size(), 3u);
    EXPECT_EQ(targetText((*targets)[0]), "127.0.0.1:6001");
    EXPECT_EQ(targetText((*targets)[1]), "127.0.0.1:5000");
    EXPECT_EQ(targetText((*targets)[2]), "127.0.0.1:6003");

    {
        std::ofstream file(dir.file("bad"));
        file << "127.0.0.1\nrecorder-2\n";
    }
    EXPECT_FALSE(service::readTargetsFile(dir.file("bad"), &error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
    {
        std::ofstream file(dir.file("zero"));
        file << "127.0.0.1\n127.0.0.2\n127.0.0.003\n";
    }
    EXPECT_FALSE(service::readTargetsFile(dir.file("zero"), &error));
    EXPECT_NE(error.find(":3: an address with a leading zero"), std::string::npos) << error;
    EXPECT_FALSE(service::readTargetsFile(dir.file("absent"), &error));
}

} // namespace
} // namespace tolvane::cli
