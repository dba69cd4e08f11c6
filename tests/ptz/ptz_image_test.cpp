#include "core/ptz/ptz_image.h"
#include "ptz/ptz_test_support.h"
#include "support/fifo_guard.h"
#include "support/ptz_image_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace tolvane {
namespace {

using test::ByteVector;
using test::failureText;
using test::getLe32;

constexpr std::size_t Rec = 1796;
constexpr std::size_t ImageSize = 64660;

std::size_t slotAt(int i)
{
    return 4 + Rec * static_cast<std::size_t>(i);
}

std::int32_t slotNumber(const PtzImage& image, int i)
{
    const auto& b = image.Bytes();
    const ByteVector word(b.begin() + slotAt(i), b.begin() + slotAt(i) + 4);
    return static_cast<std::int32_t>(getLe32(word, 0));
}

std::vector<std::int32_t> slotNumbers(const PtzImage& image)
{
    std::vector<std::int32_t> numbers;
    for (int i = 0; i < 36; ++i)
        numbers.push_back(slotNumber(image, i));
    return numbers;
}

bool slotIsEmpty(const PtzImage& image, int i)
{
    const auto& b = image.Bytes();
    return std::all_of(b.begin() + slotAt(i), b.begin() + slotAt(i + 1),
                       [](std::uint8_t v) { return v == 0xFF; });
}

// Slots 0..used-1 hold records numbered 100 + slot.
PtzImage imageWith(int used)
{
    PtzImage image;
    for (int i = 0; i < used; ++i)
        EXPECT_TRUE(image.SetAt(i, test::patternedRecord(100 + i, static_cast<std::uint8_t>(i))));
    return image;
}

TEST(PtzImageSlots, NewImageIsAllFF)
{
    PtzImage image;
    EXPECT_TRUE(std::all_of(image.Bytes().begin(), image.Bytes().end(),
                            [](std::uint8_t v) { return v == 0xFF; }));
    EXPECT_EQ(image.Bytes().size(), ImageSize);
    EXPECT_EQ(image.UsedSlotCount(), 0);
    EXPECT_TRUE(image.ContainsNumber(-1));
}

TEST(PtzImageSlots, SetAtPlacesTheRecordBytesInItsSlot)
{
    PtzImage image;
    const ByteVector raw = test::patternedRecordBytes(0x01020304, 9);
    ASSERT_TRUE(image.SetAt(2, PtzProtocol::fromBytes(raw.data())));
    const auto& b = image.Bytes();
    EXPECT_EQ(b[slotAt(2)], 0x04);
    EXPECT_EQ(b[slotAt(2) + 3], 0x01);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), b.begin() + slotAt(2)));
    EXPECT_TRUE(slotIsEmpty(image, 1));
    EXPECT_TRUE(slotIsEmpty(image, 3));
    PtzProtocol out;
    ASSERT_TRUE(image.GetAt(2, out));
    EXPECT_EQ(out, PtzProtocol::fromBytes(raw.data()));
    ASSERT_TRUE(image.GetAt(0, out));
    EXPECT_EQ(out.number, -1);
}

// Result of each slot operation at the edge indices, on a full image.
struct SlotCase {
    const char* operation;
    int index;
    bool result;
    std::function<int(PtzImage&, int)> run;
};

int doClear(PtzImage& m, int i)
{
    return m.ClearSlot(i);
}
int doSet(PtzImage& m, int i)
{
    return m.SetAt(i, test::patternedRecord(7, 7));
}
int doGet(PtzImage& m, int i)
{
    PtzProtocol out;
    return m.GetAt(i, out);
}
int doRemove(PtzImage& m, int i)
{
    return m.RemoveSlot(i);
}
int doUp(PtzImage& m, int i)
{
    return m.MoveSlotUp(i);
}
int doDown(PtzImage& m, int i)
{
    return m.MoveSlotDown(i);
}

void PrintTo(const SlotCase& c, std::ostream* os)
{
    *os << c.operation << "(" << c.index << ")";
}

class PtzImageSlotEdges : public ::testing::TestWithParam<SlotCase> {};

TEST_P(PtzImageSlotEdges, RefusedIndicesChangeNothing)
{
    const SlotCase& c = GetParam();
    PtzImage image = imageWith(36);
    image.UpdateChecksum();
    const auto before = image.Bytes();
    EXPECT_EQ(c.run(image, c.index) != 0, c.result) << c.operation << "(" << c.index << ")";
    if (!c.result) {
        EXPECT_TRUE(image.Bytes() == before) << c.operation << "(" << c.index << ")";
    }
}

std::vector<SlotCase> slotCases()
{
    std::vector<SlotCase> cases;
    const struct {
        const char* name;
        int (*run)(PtzImage&, int);
        bool minusOne; // -1 means "the whole image"
    } ops[] = {{"ClearSlot", doClear, true}, {"SetAt", doSet, false},
               {"GetAt", doGet, false},      {"RemoveSlot", doRemove, true},
               {"MoveSlotUp", doUp, false},  {"MoveSlotDown", doDown, false}};
    for (const auto& op : ops) {
        cases.push_back({op.name, 0, true, op.run});
        cases.push_back({op.name, 35, true, op.run});
        cases.push_back({op.name, -1, op.minusOne, op.run});
        cases.push_back({op.name, 36, false, op.run});
        cases.push_back({op.name, -2, false, op.run});
        cases.push_back({op.name, INT32_MIN, false, op.run});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Edges, PtzImageSlotEdges, ::testing::ValuesIn(slotCases()),
                         [](const auto& row) {
                             const int i = row.param.index;
                             return std::string(row.param.operation) + "_" +
                                    (i < 0 ? "minus" + std::to_string(-static_cast<long long>(i))
                                           : std::to_string(i));
                         });

TEST(PtzImageSlots, ClearWholeImageIncludesTheChecksum)
{
    PtzImage image = imageWith(3);
    image.UpdateChecksum();
    ASSERT_TRUE(image.ClearSlot(-1));
    EXPECT_TRUE(image.Bytes() == PtzImage().Bytes());
    image = imageWith(3);
    ASSERT_TRUE(image.RemoveSlot(-1));
    EXPECT_TRUE(image.Bytes() == PtzImage().Bytes());
}

TEST(PtzImageSlots, ClearOneSlot)
{
    PtzImage image = imageWith(36);
    ASSERT_TRUE(image.ClearSlot(35));
    EXPECT_TRUE(slotIsEmpty(image, 35));
    EXPECT_EQ(slotNumber(image, 34), 134);
    ASSERT_TRUE(image.ClearSlot(0));
    EXPECT_TRUE(slotIsEmpty(image, 0));
    EXPECT_EQ(slotNumber(image, 1), 101);
}

TEST(PtzImageSlots, RemoveSlotClosesTheGap)
{
    PtzImage two = imageWith(2);
    const auto slot1 =
        std::vector<std::uint8_t>(two.Bytes().begin() + slotAt(1), two.Bytes().begin() + slotAt(2));
    ASSERT_TRUE(two.RemoveSlot(0));
    EXPECT_TRUE(std::equal(slot1.begin(), slot1.end(), two.Bytes().begin() + slotAt(0)));
    for (int i = 1; i < 36; ++i)
        EXPECT_TRUE(slotIsEmpty(two, i)) << i;

    std::vector<std::int32_t> expected;
    for (int i = 0; i < 35; ++i)
        expected.push_back(100 + i);
    expected.push_back(-1);
    PtzImage full = imageWith(36);
    ASSERT_TRUE(full.RemoveSlot(35));
    EXPECT_EQ(slotNumbers(full), expected);
    EXPECT_TRUE(slotIsEmpty(full, 35));

    full = imageWith(36);
    ASSERT_TRUE(full.RemoveSlot(0));
    for (int i = 0; i < 35; ++i)
        expected[i] = 101 + i;
    EXPECT_EQ(slotNumbers(full), expected);
    EXPECT_TRUE(slotIsEmpty(full, 35));
}

TEST(PtzImageSlots, MovesSwapWholeSlots)
{
    PtzImage image = imageWith(36);
    const auto before = image.Bytes();
    ASSERT_TRUE(image.MoveSlotUp(0));
    ASSERT_TRUE(image.MoveSlotDown(35));
    EXPECT_TRUE(image.Bytes() == before);

    ASSERT_TRUE(image.MoveSlotUp(1));
    EXPECT_TRUE(std::equal(before.begin() + slotAt(1), before.begin() + slotAt(2),
                           image.Bytes().begin() + slotAt(0)));
    EXPECT_TRUE(std::equal(before.begin() + slotAt(0), before.begin() + slotAt(1),
                           image.Bytes().begin() + slotAt(1)));
    ASSERT_TRUE(image.MoveSlotDown(0));
    EXPECT_TRUE(image.Bytes() == before);

    ASSERT_TRUE(image.MoveSlotDown(34));
    EXPECT_EQ(slotNumber(image, 34), 135);
    EXPECT_EQ(slotNumber(image, 35), 134);
    ASSERT_TRUE(image.MoveSlotUp(35));
    EXPECT_TRUE(image.Bytes() == before);
}

TEST(PtzImageSlots, ContainsNumberLooksAtEverySlot)
{
    PtzImage full = imageWith(36);
    EXPECT_TRUE(full.ContainsNumber(100));
    EXPECT_TRUE(full.ContainsNumber(135));
    EXPECT_FALSE(full.ContainsNumber(-1));
    EXPECT_FALSE(full.ContainsNumber(136));
    PtzImage gap;
    gap.SetAt(20, test::patternedRecord(5, 1));
    EXPECT_TRUE(gap.ContainsNumber(5));
    EXPECT_TRUE(gap.ContainsNumber(-1));
}

TEST(PtzImageSlots, UsedSlotsStopAtTheFirstEmptyOne)
{
    EXPECT_EQ(imageWith(2).UsedSlotCount(), 2);
    EXPECT_EQ(imageWith(36).UsedSlotCount(), 36);
    PtzImage gap = imageWith(3);
    gap.ClearSlot(1);
    EXPECT_EQ(gap.UsedSlotCount(), 1);
}

TEST(PtzImageChecksum, EmptyImageChecksumWorkedByHand)
{
    // 16164 words of 0xFFFFFFFF sum to -16164 = 0xFFFFC0DC; the checksum is its negation.
    PtzImage image;
    image.UpdateChecksum();
    EXPECT_EQ(image.Checksum(), 0x00003F24u);
    EXPECT_EQ(image.Bytes()[0], 0x24);
    EXPECT_EQ(image.Bytes()[1], 0x3F);
    EXPECT_EQ(image.Bytes()[2], 0x00);
    EXPECT_EQ(image.Bytes()[3], 0x00);
}

TEST(PtzImageChecksum, ImageSumsToZero)
{
    for (int used : {1, 17, 36}) {
        PtzImage image = imageWith(used);
        image.UpdateChecksum();
        const ByteVector bytes(image.Bytes().begin(), image.Bytes().end());
        EXPECT_EQ(test::littleEndianWordSum(bytes), 0u) << used;
    }
}

constexpr char ImageFileName[] = "image.bin";
using BinFile = test::FileInFolder<ImageFileName>;

TEST_F(BinFile, NewImageWritesChecksumAndFF)
{
    PtzImage image;
    ASSERT_TRUE(image.WriteFile(m_path));
    ByteVector expected(ImageSize, 0xFF);
    expected[0] = 0x24;
    expected[1] = 0x3F;
    expected[2] = 0x00;
    expected[3] = 0x00;
    const ByteVector bytes = test::readBytes(m_path);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(test::littleEndianWordSum(bytes), 0u);
}

TEST_F(BinFile, WriteUpdatesTheChecksumAndRoundTrips)
{
    PtzImage image = imageWith(5);
    ASSERT_TRUE(image.WriteFile(m_path));
    const ByteVector bytes = test::readBytes(m_path);
    ASSERT_EQ(bytes.size(), ImageSize);
    EXPECT_EQ(test::littleEndianWordSum(bytes), 0u);
    EXPECT_EQ(getLe32(bytes, slotAt(4)), 104u);

    PtzImage loaded;
    ASSERT_TRUE(loaded.ReadFile(m_path));
    EXPECT_TRUE(loaded.Bytes() == image.Bytes());
    EXPECT_EQ(loaded.UsedSlotCount(), 5);
}

TEST_F(BinFile, ReadDoesNotCheckTheContent)
{
    ByteVector bytes(ImageSize, 0x11); // sum not zero, numbers nonsense
    test::writeBytes(m_path, bytes);
    PtzImage image;
    ASSERT_TRUE(image.ReadFile(m_path));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.Bytes().begin()));
}

struct ReadCase {
    const char* name;
    std::function<void(const std::string&)> make;
    bool result;
};

ByteVector sized(std::size_t n)
{
    ByteVector bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return bytes;
}

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class BinReadInput : public BinFile, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(BinReadInput, FailureLeavesTheImageAsItWas)
{
    const ReadCase& c = GetParam();
    c.make(m_path);
    PtzImage image = imageWith(3);
    const auto before = image.Bytes();
    const auto read = image.read(m_path);
    EXPECT_EQ(read.ok(), c.result);
    if (c.result) {
        const ByteVector expected = sized(ImageSize);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.Bytes().begin()));
    } else {
        EXPECT_TRUE(image.Bytes() == before);
        EXPECT_FALSE(failureText(read).empty());
    }

    // The file's bytes handed over in memory read the same.
    if (!std::filesystem::is_regular_file(m_path))
        return;
    PtzImage fromBytes = imageWith(3);
    const auto readFromBytes = fromBytes.readBytes(test::readBytes(m_path));
    EXPECT_EQ(readFromBytes.ok(), c.result);
    EXPECT_TRUE(fromBytes.Bytes() == image.Bytes());
    EXPECT_EQ(failureText(readFromBytes).empty(), failureText(read).empty());
}

auto binOf(std::size_t n)
{
    return [n](const std::string& path) { test::writeBytes(path, sized(n)); };
}

INSTANTIATE_TEST_SUITE_P(
    Table, BinReadInput,
    ::testing::Values(ReadCase{"Exact", binOf(ImageSize), true},
                      ReadCase{"OneByteShort", binOf(ImageSize - 1), false},
                      ReadCase{"OneByteLongTailIgnored", binOf(ImageSize + 1), true},
                      ReadCase{"Empty", binOf(0), false}, ReadCase{"FourBytes", binOf(4), false},
                      ReadCase{"Missing", [](const std::string&) {}, false},
                      ReadCase{"Directory", [](const std::string& p) { ::mkdir(p.c_str(), 0700); },
                               false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(BinFile, FifoIsRefusedWithoutWaitingForAWriter)
{
    ASSERT_TRUE(test::makeFifo(m_path));
    PtzImage image = imageWith(3);
    const auto before = image.Bytes();
    const auto read = test::callOnFifo(m_path, [&] { return image.read(m_path); });
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(*read);
    EXPECT_TRUE(image.Bytes() == before);
    EXPECT_NE(failureText(*read).find("not a regular file"), std::string::npos)
        << failureText(*read);
}

TEST_F(BinFile, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    ASSERT_TRUE(PtzImage().WriteFile(m_path));
    const ByteVector old = test::readBytes(m_path);

    const int result = test::runWithFileSizeLimit(10000, [this] {
        PtzImage image = imageWith(4);
        return image.WriteFile(m_path) ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(test::readBytes(m_path), old);
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"image.bin"});
}

TEST_F(BinFile, WriteIntoAMissingFolderFails)
{
    PtzImage image = imageWith(1);
    const auto written = image.write(m_dir.file("gone/image.bin"));
    EXPECT_FALSE(written);
    EXPECT_FALSE(failureText(written).empty());
    EXPECT_TRUE(m_dir.entries().empty());
}

// Valid is 64660 bytes whose little-endian words sum to 0; worked by hand: 0xFFFFFFFD + 1 + 2.
TEST(PtzImageFile, ValidityIsAZeroWordSum)
{
    ByteVector bytes(64660, 0);
    test::putLe32(bytes, 0, 0xFFFFFFFD);
    test::putLe32(bytes, 4, 1);
    test::putLe32(bytes, 64656, 2);
    EXPECT_TRUE(PtzImage::IsValidFile(bytes.data(), bytes.size()));
    EXPECT_FALSE(PtzImage::IsValidFile(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(PtzImage::IsValidFile(nullptr, bytes.size()));
    for (std::size_t at = 0; at < bytes.size(); at += 97) {
        for (const std::uint8_t flip : {0x01, 0x80}) {
            bytes[at] ^= flip;
            EXPECT_FALSE(PtzImage::IsValidFile(bytes.data(), bytes.size())) << "byte " << at;
            bytes[at] ^= flip;
        }
    }
}

} // namespace
} // namespace tolvane
