#include "core/image/image_version.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

namespace tolvane {
namespace {

using test::FirmwareImageBuilder;
using test::TempDir;
using test::writeFileBytes;
using Layout = FirmwareImageBuilder::Layout;

constexpr std::size_t FourMiB = 4 * 1024 * 1024;
const std::string CrcError = "invalid compressed data--crc error\n";
const std::string LengthError = "invalid compressed data--length error\n";
const std::string FormatViolated = "invalid compressed data--format violated\n";
const std::string BadMagic = "Invalid gzip magic\n";

FirmwareImageBuilder withContent(const std::string& text)
{
    FirmwareImageBuilder builder;
    builder.content(text);
    return builder;
}

// Deflate bits: numbers go least significant bit first, Huffman codes most significant bit first.
class BitWriter {
public:
    void number(std::uint32_t value, int count)
    {
        for (int i = 0; i < count; ++i)
            put((value >> i) & 1u);
    }
    void code(std::uint32_t value, int length)
    {
        for (int i = length - 1; i >= 0; --i)
            put((value >> i) & 1u);
    }
    std::vector<std::uint8_t> bytes() const { return m_bytes; }

private:
    void put(std::uint32_t bit)
    {
        if (m_used % 8 == 0)
            m_bytes.push_back(0);
        m_bytes.back() = static_cast<std::uint8_t>(m_bytes.back() | bit << (m_used % 8));
        ++m_used;
    }
    std::vector<std::uint8_t> m_bytes;
    int m_used = 0;
};

// A gzip member whose one dynamic block declares an incomplete literal/length code (literals 0
// and 256 of length 2) or, with badDistances, an incomplete distance code (one code of length 2).
std::vector<std::uint8_t> incompleteTreeMember(bool badDistances)
{
    BitWriter w;
    w.number(1, 1);                      // last block
    w.number(2, 2);                      // dynamic Huffman codes
    w.number(0, 5);                      // 257 literal/length codes
    w.number(badDistances ? 1 : 0, 5);   // 1 or 2 distance codes
    w.number(badDistances ? 14 : 12, 4); // code length codes, in the order 16 17 18 0 8 7 9 6 ...
    // Code length code lengths. Literal case: 18 -> 1 bit "0", 0 -> "10", 2 -> "11".
    // Distance case: all of 0, 1, 2, 18 two bits: 0 -> "00", 1 -> "01", 2 -> "10", 18 -> "11".
    const std::vector<std::uint32_t> lengths =
        badDistances
            ? std::vector<std::uint32_t>{0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}
            : std::vector<std::uint32_t>{0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    for (const std::uint32_t length : lengths)
        w.number(length, 3);
    if (badDistances) {
        w.code(0b01, 2); // literal 0: length 1
        w.code(0b11, 2); // 138 zeros
        w.number(127, 7);
        w.code(0b11, 2); // 117 zeros: literals 1 to 255
        w.number(106, 7);
        w.code(0b01, 2); // 256: length 1 (a complete literal code)
        w.code(0b10, 2); // distance 0: length 2
        w.code(0b00, 2); // distance 1: length 0
    } else {
        w.code(0b11, 2); // literal 0: length 2
        w.code(0b0, 1);  // 138 zeros
        w.number(127, 7);
        w.code(0b0, 1); // 117 zeros
        w.number(106, 7);
        w.code(0b11, 2); // 256: length 2
        w.code(0b10, 2); // distance 0: length 0
    }
    std::vector<std::uint8_t> member = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    const std::vector<std::uint8_t> block = w.bytes();
    member.insert(member.end(), block.begin(), block.end());
    member.insert(member.end(), 16, 0);
    return member;
}

// Text that deflate cannot shrink much, so its member spans many blocks of the file.
std::string noisyText(std::size_t size)
{
    std::string text(size, ' ');
    std::uint32_t state = 12345;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>('a' + (state >> 16) % 26);
    }
    return text;
}

struct VersionCase {
    std::string name;
    // Writes the file under test at the given path.
    std::function<void(const std::string&)> write;
    std::int32_t expected;
    std::string diagnostics;
    bool applicationOnly = false;
};

void PrintTo(const VersionCase& c, std::ostream* out)
{
    *out << c.name;
}

std::function<void(const std::string&)> image(FirmwareImageBuilder builder)
{
    return [builder](const std::string& path) { builder.writeTo(path); };
}

std::vector<VersionCase> tagCases()
{
    return {
        {"TagWithSpaceAndDollar", image(withContent("x $version: 1.2.3 $ y")), 0x01020300, ""},
        {"TagAtTheEndOfTheContent", image(withContent("$version: 3.5.1")), 0x03050100, ""},
        {"ZeroVersion", image(withContent("$version: 0.0.0 $")), 0, ""},
        {"MinorCarriesIntoMajor", image(withContent("$version: 1.256.0 $")), 0x02000000, ""},
        {"SignsAndBlanksConvert", image(withContent("$version:  +3. 5.-1 $")), 0x0304FF00, ""},
        {"NoSpaceIsNoTag", image(withContent("$version:3.5.1 $ then $version: 1.2.3 $")),
         0x01020300, ""},
        {"OnlyTheFirstTagIsTried", image(withContent("$version: 3-5-1 $ then $version: 1.2.3 $")),
         -1, ""},
        {"TwoDollarSigns", image(withContent("$$version: 4.1.0 $")), 0x04010000, ""},
        {"TwoNumbersOnly", image(withContent("$version: 3.5 $")), -1, ""},
        // Numbers are converted as int; one that int cannot hold makes the tag malformed.
        {"LargestIntWraps", image(withContent("$version: 2147483647.0.0 $")),
         static_cast<std::int32_t>(0xFF000000u), ""},
        {"SmallestIntWraps", image(withContent("$version: 1.-2147483648.0 $")), 0x01000000, ""},
        {"LeadingZerosAreNoOverflow", image(withContent("$version: 000000000003.05.1")), 0x03050100,
         ""},
        {"NumberPastIntMax", image(withContent("$version: 1.2147483648.0 $")), -1, ""},
        {"NumberPastIntMin", image(withContent("$version: 1.-2147483649.0 $")), -1, ""},
        {"ThirtyDigitPatch", image(withContent("$version: 1.2." + std::string(30, '9') + " $")), -1,
         ""},
        {"BlanksOfEveryKindBeforeANumber", image(withContent("$version: \t1.\n2.\v\f\r 3 $")),
         0x01020300, ""},
        {"BlankBeforeTheStopIsNoSeparator", image(withContent("$version: 1 .2.3 $")), -1, ""},
        {"SignWithoutDigits", image(withContent("$version: 1.+.3 $")), -1, ""},
        {"NulEndsTheText", image(withContent(std::string("$version: 1.2\0.3 $", 18))), -1, ""},
    };
}

std::vector<VersionCase> memberCases()
{
    const std::size_t memberSize = FirmwareImageBuilder().member().size();

    std::string exactlyFull(FourMiB, 'a');
    exactlyFull.replace(FourMiB - 15, 15, "$version: 1.2.3");
    std::string fullCut(FourMiB, 'a');
    fullCut.replace(FourMiB - 13, 13, "$version: 1.2");

    return {
        // The member is read from the file in 64 KiB blocks: members, header fields and
        // trailers across block boundaries.
        {"MemberOfManyBlocks", image(withContent(noisyText(600 * 1024) + "$version: 5.6.7 $")),
         0x05060700, ""},
        {"GzipNameLongerThanABlock",
         image(FirmwareImageBuilder().version("8.1.2").gzipName(std::string(200 * 1024, 'n'))),
         0x08010200, ""},
        {"GzipExtraFillingABlock",
         image(FirmwareImageBuilder().version("8.1.3").gzipExtra(
             std::vector<std::uint8_t>(65535, 0xEE))),
         0x08010300, ""},
        {"CorruptedCrcAfterManyBlocks",
         image(withContent(noisyText(300 * 1024) + "$version: 5.6.7 $").corruptCrc()), -1,
         CrcError},
        {"MemberCutAfterManyBlocks",
         image(withContent(noisyText(300 * 1024) + "$version: 5.6.7 $")
                   .headerLength(static_cast<std::uint32_t>(
                       withContent(noisyText(300 * 1024) + "$version: 5.6.7 $").member().size() -
                       4))),
         -1, FormatViolated},
        // A header length longer than the member: the bytes after the trailer are not read.
        {"HeaderLengthPastTheMemberInsideTheFile",
         image(FirmwareImageBuilder()
                   .trailingBytes(300 * 1024)
                   .headerLength(static_cast<std::uint32_t>(memberSize + 300 * 1024))),
         0x03050100, ""},
        {"NoNumbers", image(withContent("$version: $")), -1, ""},
        {"TagAbsent", image(withContent("no tag in here")), -1, ""},
        {"EmptyContent", image(withContent("")), -1, ""},
        {"GzipOptionalHeaderFields",
         image(FirmwareImageBuilder()
                   .version("2.9.4")
                   .gzipName("image.bin")
                   .gzipComment("a comment")
                   .gzipExtra({1, 2, 3, 4, 5})
                   .gzipHeaderCrc()),
         0x02090400, ""},
        {"ApplicationOnlyLayout", image(FirmwareImageBuilder(Layout::ApplicationOnly)), 0x03050100,
         "", true},
        {"ApplicationOnlyImageReadAsIntegrated",
         image(FirmwareImageBuilder(Layout::ApplicationOnly)), -1, ""},
        {"ContentFillingExactlyFourMiB", image(withContent(exactlyFull)), 0x01020300, ""},
        {"TagCutAtTheEndOfFourMiB", image(withContent(fullCut)), -1, ""},
        {"ContentPastFourMiB", image(withContent(std::string(FourMiB + 1, 'a'))), -1,
         FormatViolated},
    };
}

std::vector<VersionCase> damageCases()
{
    const std::size_t headerEnd = FirmwareImageBuilder::IntegratedHeaderOffset + 60;
    std::vector<std::uint8_t> notGzip(200, 'x');
    std::vector<std::uint8_t> otherMethod = test::gzipCompress("$version: 1.2.3 $");
    otherMethod[2] = 7;
    std::vector<std::uint8_t> garbageDeflate = {0x1F, 0x8B, 8,    0,    0,    0,    0,    0,   0, 3,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::uint8_t> reservedFlags = test::gzipCompress("$version: 1.2.3 $");
    reservedFlags[3] = 0x20;
    const std::size_t memberSize = FirmwareImageBuilder().member().size();

    return {
        {"CorruptedCrc", image(FirmwareImageBuilder().corruptCrc()), -1, CrcError},
        {"WrongLength", image(FirmwareImageBuilder().corruptLength()), -1, LengthError},
        {"CrcCheckedBeforeLength", image(FirmwareImageBuilder().corruptCrc().corruptLength()), -1,
         CrcError},
        {"CorruptedMagic", image(FirmwareImageBuilder().corruptMagic()), -1, BadMagic},
        {"NotGzip", image(FirmwareImageBuilder().rawMember(notGzip)), -1, BadMagic},
        {"MethodNotDeflate", image(FirmwareImageBuilder().rawMember(otherMethod)), -1, ""},
        {"ReservedFlags", image(FirmwareImageBuilder().rawMember(reservedFlags)), -1,
         FormatViolated},
        {"GarbageDeflateData", image(FirmwareImageBuilder().rawMember(garbageDeflate)), -1,
         FormatViolated},
        {"IncompleteLiteralTree",
         image(FirmwareImageBuilder().rawMember(incompleteTreeMember(false))), -1,
         "Incomplete literal tree\n" + FormatViolated},
        {"IncompleteDistanceTree",
         image(FirmwareImageBuilder().rawMember(incompleteTreeMember(true))), -1,
         "incomplete distance tree\n" + FormatViolated},
        {"MemberCutByHeaderLength",
         image(FirmwareImageBuilder().headerLength(static_cast<std::uint32_t>(memberSize - 9))), -1,
         FormatViolated},
        {"ZeroHeaderLength", image(FirmwareImageBuilder().headerLength(0)), -1, BadMagic},
        {"HeaderLengthPastTheEnd",
         image(FirmwareImageBuilder().trailingBytes(0).headerLength(
             static_cast<std::uint32_t>(memberSize + 1))),
         -1, ""},
        {"HugeHeaderLength", image(FirmwareImageBuilder().headerLength(0xFFFFFFFFu)), -1, ""},
        {"MemberPastTheEnd",
         image(FirmwareImageBuilder().totalSize(FirmwareImageBuilder::IntegratedMemberOffset + 5)),
         -1, ""},
        {"ShorterThanTheHeader", image(FirmwareImageBuilder().totalSize(headerEnd - 1)), -1, ""},
        {"HeaderEndsTheFile", image(FirmwareImageBuilder().totalSize(headerEnd).headerLength(0)),
         -1, ""},
        {"EmptyFile", [](const std::string& path) { writeFileBytes(path, {}); }, -1, ""},
        {"MissingFile", [](const std::string&) {}, 0, ""},
    };
}

std::vector<VersionCase> versionCases()
{
    std::vector<VersionCase> cases;
    for (auto part : {tagCases(), memberCases(), damageCases()})
        cases.insert(cases.end(), part.begin(), part.end());
    return cases;
}

class ImageVersionTest : public ::testing::TestWithParam<VersionCase> {
protected:
    TempDir m_dir;
};

TEST_P(ImageVersionTest, ReadsTheVersionOrFails)
{
    const VersionCase& c = GetParam();
    const std::string path = m_dir.file("image.bin");
    c.write(path);
    std::ostringstream diagnostics;
    EXPECT_EQ(readImageVersion(path, c.applicationOnly, diagnostics), c.expected);
    EXPECT_EQ(diagnostics.str(), c.diagnostics);

    // The same bytes handed over in memory read the same; a missing file has none to hand over.
    if (!std::filesystem::exists(path))
        return;
    const std::vector<std::uint8_t> bytes = test::readFileBytes(path);
    std::ostringstream fromBytes;
    EXPECT_EQ(versionNumberOf(readVersion(bytes, c.applicationOnly, fromBytes)), c.expected);
    EXPECT_EQ(fromBytes.str(), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(Images, ImageVersionTest, ::testing::ValuesIn(versionCases()),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST(ImageVersion, DirectoryCannotBeRead)
{
    TempDir dir;
    std::ostringstream diagnostics;
    EXPECT_EQ(readImageVersion(dir.path(), false, diagnostics), VersionFileUnreadable);
}

TEST(ImageVersion, FifoIsUnreadableWithoutWaitingForAWriter)
{
    TempDir dir;
    const std::string path = dir.file("pipe.bin");
    ASSERT_TRUE(test::makeFifo(path));
    std::ostringstream diagnostics;
    EXPECT_EQ(test::callOnFifo(path, [&] { return readImageVersion(path, false, diagnostics); }),
              VersionFileUnreadable);
}

TEST(ImageVersion, SameContentInBothLayoutsGivesTheSameNumber)
{
    TempDir dir;
    FirmwareImageBuilder(Layout::Integrated).version("7.1.9").writeTo(dir.file("full.bin"));
    FirmwareImageBuilder(Layout::ApplicationOnly).version("7.1.9").writeTo(dir.file("app.bin"));
    std::ostringstream diagnostics;
    EXPECT_EQ(readImageVersion(dir.file("full.bin"), false, diagnostics), 0x07010900);
    EXPECT_EQ(readImageVersion(dir.file("app.bin"), true, diagnostics), 0x07010900);
}

struct AnnouncedCase {
    std::int32_t read;
    std::int32_t announced;
};

class AnnouncedVersionTest : public ::testing::TestWithParam<AnnouncedCase> {};

TEST_P(AnnouncedVersionTest, OnlyThreeSevenIsRewritten)
{
    EXPECT_EQ(announcedApplicationVersion(GetParam().read), GetParam().announced);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, AnnouncedVersionTest,
    ::testing::Values(AnnouncedCase{0x03070200, 0x03050200}, AnnouncedCase{0x03050200, 0x03050200},
                      AnnouncedCase{0x0307FF00, 0x0305FF00}, AnnouncedCase{0x03080000, 0x03080000},
                      AnnouncedCase{0x04070000, 0x04070000}, AnnouncedCase{0x02070000, 0x02070000},
                      AnnouncedCase{0, 0}, AnnouncedCase{-1, -1}, AnnouncedCase{-2, -2}));

TEST(ImageVersion, FormatsMajorMinorPatch)
{
    EXPECT_EQ(formatVersion(0x03050100), "3.5.1");
    EXPECT_EQ(formatVersion(static_cast<std::int32_t>(0xFF00FE00u)), "255.0.254");
    EXPECT_EQ(formatVersion(0), "0.0.0");
}

} // namespace
} // namespace tolvane
