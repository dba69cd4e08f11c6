#include "core/ptz/ptz_protocol_list.h"
#include "ptz/ptz_test_support.h"
#include "support/fifo_guard.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <sys/stat.h>

namespace tolvane {
namespace {

using test::ByteVector;
using test::failureText;
using test::getLe32;
using test::putLe32;

constexpr std::size_t Rec = 1796;

std::vector<std::int32_t> numbersOf(const PtzProtocolList& list)
{
    std::vector<std::int32_t> numbers;
    for (int i = 0; i < list.GetCount(); ++i) {
        PtzProtocol record;
        EXPECT_TRUE(list.GetAt(i, record));
        numbers.push_back(record.number);
    }
    return numbers;
}

void append(PtzProtocolList& list, const PtzProtocol& record)
{
    ASSERT_TRUE(list.Grow(1));
    ASSERT_TRUE(list.SetAt(list.GetCount() - 1, record));
}

PtzProtocolList listOf(std::initializer_list<std::int32_t> numbers)
{
    PtzProtocolList list;
    std::uint8_t seed = 1;
    for (std::int32_t n : numbers)
        append(list, test::patternedRecord(n, seed++));
    return list;
}

// A .pdb file built by hand: header then the given records.
ByteVector pdbBytes(std::int32_t announced, const std::vector<ByteVector>& records,
                    std::uint16_t version = 1, std::uint32_t recordSize = 1796)
{
    ByteVector bytes = {0x50,
                        0x44,
                        static_cast<std::uint8_t>(version),
                        static_cast<std::uint8_t>(version >> 8),
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0};
    putLe32(bytes, 4, recordSize);
    putLe32(bytes, 8, static_cast<std::uint32_t>(announced));
    for (const ByteVector& r : records)
        bytes.insert(bytes.end(), r.begin(), r.end());
    return bytes;
}

// ---- operations ----

TEST(PtzProtocolListOps, EmptyList)
{
    PtzProtocolList list;
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetNextNumber(), 0);
    for (std::int32_t n : {0, -1, 1, INT32_MAX})
        EXPECT_EQ(list.FindIndex(n), -1);
    EXPECT_FALSE(list.Contains(0));
    PtzProtocol out;
    EXPECT_FALSE(list.GetAt(0, out));
    EXPECT_FALSE(list.SetAt(0, out));
    EXPECT_TRUE(list.RemoveAt(0, 1));
    EXPECT_TRUE(list.RemoveAll());
}

TEST(PtzProtocolListOps, GrowAppendsZeroRecordsAndKeepsTheOldOnes)
{
    PtzProtocolList list = listOf({4, 9});
    EXPECT_TRUE(list.Grow(0));
    EXPECT_TRUE(list.Grow(-3));
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_TRUE(list.Grow(2));
    ASSERT_EQ(list.GetCount(), 4);
    PtzProtocol record;
    ASSERT_TRUE(list.GetAt(3, record));
    EXPECT_EQ(record.toBytes(), PtzProtocol::Bytes{});
    ASSERT_TRUE(list.GetAt(1, record));
    EXPECT_EQ(record, test::patternedRecord(9, 2));
    // More records than an int can count: refused, nothing changes.
    EXPECT_FALSE(list.Grow(INT_MAX));
    EXPECT_EQ(list.GetCount(), 4);
}

struct RemoveCase {
    int start;
    int count;
    std::vector<std::int32_t> left;
};

void PrintTo(const RemoveCase& c, std::ostream* os)
{
    *os << "RemoveAt(" << c.start << ", " << c.count << ")";
}

class PtzProtocolListRemoveAt : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(PtzProtocolListRemoveAt, EdgesAlwaysSucceed)
{
    const RemoveCase& c = GetParam();
    PtzProtocolList list = listOf({10, 20, 30});
    EXPECT_TRUE(list.RemoveAt(c.start, c.count));
    EXPECT_EQ(numbersOf(list), c.left);
}

const std::vector<std::int32_t> All = {10, 20, 30};
INSTANTIATE_TEST_SUITE_P(Edges, PtzProtocolListRemoveAt,
                         ::testing::Values(RemoveCase{0, 1, {20, 30}}, RemoveCase{1, 1, {10, 30}},
                                           RemoveCase{2, 1, {10, 20}}, RemoveCase{1, 2, {10}},
                                           RemoveCase{0, 3, {}}, RemoveCase{0, 0, All},
                                           RemoveCase{0, -1, All}, RemoveCase{-1, 1, All},
                                           RemoveCase{2, 2, All}, RemoveCase{3, 1, All},
                                           RemoveCase{0, 4, All}, RemoveCase{1, INT_MAX, All},
                                           RemoveCase{INT_MAX, 1, All},
                                           RemoveCase{INT_MIN, 2, All}));

TEST(PtzProtocolListOps, RemovingTheOnlyRecordEmptiesTheList)
{
    PtzProtocolList list = listOf({3});
    EXPECT_TRUE(list.RemoveAt(0, 1));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetNextNumber(), 0);
}

TEST(PtzProtocolListOps, NextNumber)
{
    EXPECT_EQ(listOf({0, 5}).GetNextNumber(), 6);
    EXPECT_EQ(listOf({5, 0}).GetNextNumber(), 6);
    EXPECT_EQ(listOf({-3}).GetNextNumber(), 0);
    EXPECT_EQ(listOf({-3, -1}).GetNextNumber(), 0);
    EXPECT_EQ(listOf({0}).GetNextNumber(), 1);
    EXPECT_EQ(listOf({998, 12}).GetNextNumber(), 999);
}

TEST(PtzProtocolListOps, DuplicatesAreFoundFirstOnly)
{
    PtzProtocolList list = listOf({7, 3, 7});
    EXPECT_EQ(list.FindIndex(7), 0);
    EXPECT_EQ(list.FindIndex(3), 1);
    EXPECT_EQ(list.FindIndex(8), -1);
    EXPECT_TRUE(list.Contains(7));
    EXPECT_FALSE(list.Contains(-7));
}

TEST(PtzProtocolListOps, GetAndSetRefuseIndicesOutside)
{
    PtzProtocolList list = listOf({1, 2});
    const PtzProtocol marker = test::patternedRecord(99, 50);
    for (int bad : {-1, 2, INT_MIN, INT_MAX}) {
        PtzProtocol out = marker;
        EXPECT_FALSE(list.GetAt(bad, out)) << bad;
        EXPECT_EQ(out, marker) << "nothing copied for " << bad;
        EXPECT_FALSE(list.SetAt(bad, marker)) << bad;
    }
    EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{1, 2}));
    EXPECT_TRUE(list.SetAt(1, marker));
    EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{1, 99}));
}

// ---- the .pdb file ----

constexpr char DatabaseFileName[] = "protocols.pdb";
using PdbFile = test::FileInFolder<DatabaseFileName>;

TEST_F(PdbFile, EmptyListSavesTheTwelveHeaderBytes)
{
    PtzProtocolList list;
    ASSERT_TRUE(list.SaveFile(m_path));
    EXPECT_EQ(test::readBytes(m_path),
              (ByteVector{0x50, 0x44, 0x01, 0x00, 0x04, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(PdbFile, SaveWritesHeaderThenRecordsInListOrder)
{
    PtzProtocolList list = listOf({30, -4, 30});
    ASSERT_TRUE(list.SaveFile(m_path));
    const ByteVector bytes = test::readBytes(m_path);
    ASSERT_EQ(bytes.size(), 12 + 3 * Rec);
    EXPECT_EQ(ByteVector(bytes.begin(), bytes.begin() + 8),
              (ByteVector{0x50, 0x44, 0x01, 0x00, 0x04, 0x07, 0x00, 0x00}));
    EXPECT_EQ(getLe32(bytes, 8), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const ByteVector expected =
            test::patternedRecordBytes(i == 1 ? -4 : 30, static_cast<std::uint8_t>(i + 1));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + 12 + i * Rec))
            << "record " << i;
    }
}

TEST_F(PdbFile, RoundTrip)
{
    const PtzProtocolList saved = listOf({5, 0, 123456, -9});
    ASSERT_TRUE(saved.SaveFile(m_path));
    PtzProtocolList loaded = listOf({77});
    ASSERT_TRUE(loaded.LoadFile(m_path));
    ASSERT_EQ(loaded.GetCount(), 4);
    for (int i = 0; i < 4; ++i) {
        PtzProtocol a, b;
        saved.GetAt(i, a);
        loaded.GetAt(i, b);
        EXPECT_EQ(a.toBytes(), b.toBytes()) << i;
    }
    // Saving again gives the same file, and the bytes a save writes are those of SaveBytes.
    const ByteVector first = test::readBytes(m_path);
    EXPECT_EQ(saved.SaveBytes(), first);
    ASSERT_TRUE(loaded.SaveFile(m_path));
    EXPECT_EQ(test::readBytes(m_path), first);
}

TEST_F(PdbFile, UntouchedBytesSurviveLoadEditAndSave)
{
    // Records with every byte set, the reserved byte, the 24th name byte and the command bytes
    // included, as another tool might have written them.
    std::vector<ByteVector> records = {test::patternedRecordBytes(1, 11),
                                       test::patternedRecordBytes(2, 12)};
    records[1][31] = 0x5A; // reserved
    test::writeBytes(m_path, pdbBytes(2, records));

    PtzProtocolList list;
    ASSERT_TRUE(list.LoadFile(m_path));
    PtzProtocol record;
    ASSERT_TRUE(list.GetAt(1, record));
    record.setName("Edited");
    record.baudRate = 19200;
    record.parity = parityCodeFromChoice(2);
    ASSERT_TRUE(list.SetAt(1, record));
    ASSERT_TRUE(list.SaveFile(m_path));

    const ByteVector bytes = test::readBytes(m_path);
    ASSERT_EQ(bytes.size(), 12 + 2 * Rec);
    ByteVector expected = records[1];
    const char edited[23] = "Edited";
    std::copy(edited, edited + 23, expected.begin() + 4); // 23 bytes, NUL-padded
    expected[28] = 3;
    putLe32(expected, 32, 19200);
    EXPECT_TRUE(std::equal(records[0].begin(), records[0].end(), bytes.begin() + 12));
    for (std::size_t i = 0; i < Rec; ++i)
        ASSERT_EQ(bytes[12 + Rec + i], expected[i]) << "record 1 byte " << i;
    EXPECT_EQ(bytes[12 + Rec + 27], records[1][27]); // the 24th name byte
    EXPECT_EQ(bytes[12 + Rec + 31], 0x5A);
}

TEST_F(PdbFile, VersionAndRecordSizeFieldsAreNotLookedAt)
{
    test::writeBytes(
        m_path,
        pdbBytes(2, {test::patternedRecordBytes(8, 1), test::patternedRecordBytes(9, 2)}, 7, 100));
    PtzProtocolList list;
    ASSERT_TRUE(list.LoadFile(m_path));
    EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{8, 9}));
    PtzProtocol record;
    list.GetAt(1, record);
    EXPECT_EQ(record, test::patternedRecord(9, 2));
}

enum class After { Unchanged, Empty, Loaded };

struct BrokenCase {
    const char* name;
    std::function<void(const std::string& path)> make;
    bool result;
    After after;
};

ByteVector rec(std::int32_t n)
{
    return test::patternedRecordBytes(n, static_cast<std::uint8_t>(n));
}

ByteVector withTail(ByteVector bytes, std::size_t extra)
{
    bytes.resize(bytes.size() + extra, 0xEE);
    return bytes;
}

ByteVector cut(ByteVector bytes, std::size_t keep)
{
    bytes.resize(keep);
    return bytes;
}

auto fileOf(ByteVector bytes)
{
    return [bytes](const std::string& path) { test::writeBytes(path, bytes); };
}

void PrintTo(const BrokenCase& c, std::ostream* os)
{
    *os << c.name;
}

class PdbBrokenInput : public PdbFile, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(PdbBrokenInput, ResultAndListState)
{
    const BrokenCase& c = GetParam();
    c.make(m_path);

    PtzProtocolList list = listOf({40, 41});
    const auto loaded = list.load(m_path);
    EXPECT_EQ(loaded.ok(), c.result);
    switch (c.after) {
    case After::Unchanged: EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{40, 41})); break;
    case After::Empty: EXPECT_EQ(list.GetCount(), 0); break;
    case After::Loaded: EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{1, 2})); break;
    }
    if (!c.result) {
        EXPECT_FALSE(failureText(loaded).empty());
    }

    // The file's bytes handed over in memory load the same.
    if (!std::filesystem::is_regular_file(m_path))
        return;
    PtzProtocolList fromBytes = listOf({40, 41});
    const auto loadedFromBytes = fromBytes.loadBytes(test::readBytes(m_path));
    EXPECT_EQ(loadedFromBytes.ok(), c.result);
    EXPECT_EQ(fromBytes.SaveBytes(), list.SaveBytes());
    EXPECT_EQ(failureText(loadedFromBytes).empty(), failureText(loaded).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, PdbBrokenInput,
    ::testing::Values(
        BrokenCase{"EmptyFile", fileOf({}), false, After::Unchanged},
        BrokenCase{"HeaderShort", fileOf(cut(pdbBytes(2, {}), 11)), false, After::Unchanged},
        BrokenCase{"JustTheLetters", fileOf({0x50, 0x44}), false, After::Unchanged},
        BrokenCase{"WrongFirstLetter", fileOf([] {
                       auto b = pdbBytes(2, {rec(1), rec(2)});
                       b[0] = 'Q';
                       return b;
                   }()),
                   false, After::Unchanged},
        BrokenCase{"LowerCaseLetters", fileOf([] {
                       auto b = pdbBytes(2, {rec(1), rec(2)});
                       b[0] = 'p';
                       b[1] = 'd';
                       return b;
                   }()),
                   false, After::Unchanged},
        BrokenCase{"CountZero", fileOf(pdbBytes(0, {rec(1)})), true, After::Empty},
        BrokenCase{"CountNegative", fileOf(pdbBytes(-1, {rec(1)})), true, After::Empty},
        BrokenCase{"CountMostNegative", fileOf(pdbBytes(INT32_MIN, {})), true, After::Empty},
        BrokenCase{"CountHuge", fileOf(pdbBytes(0x7FFFFFFF, {rec(1)})), false, After::Empty},
        BrokenCase{"CountHugeHeaderOnly", fileOf(pdbBytes(0x7FFFFFFF, {})), false, After::Empty},
        BrokenCase{"FewerRecordsThanAnnounced", fileOf(pdbBytes(3, {rec(1), rec(2)})), false,
                   After::Empty},
        BrokenCase{"LastRecordCutShort", fileOf(withTail(pdbBytes(3, {rec(1), rec(2)}), Rec - 1)),
                   false, After::Empty},
        BrokenCase{"TrailingBytesIgnored", fileOf(withTail(pdbBytes(2, {rec(1), rec(2)}), 1000)),
                   true, After::Loaded},
        BrokenCase{"TrailingPartRecordIgnored",
                   fileOf(withTail(pdbBytes(2, {rec(1), rec(2)}), Rec - 1)), true, After::Loaded},
        BrokenCase{"MissingFile", [](const std::string&) {}, false, After::Unchanged},
        BrokenCase{"Directory", [](const std::string& path) { ::mkdir(path.c_str(), 0700); }, false,
                   After::Unchanged}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(PdbFile, FifoIsRefusedWithoutWaitingForAWriter)
{
    ASSERT_TRUE(test::makeFifo(m_path));
    PtzProtocolList list = listOf({7, 8});
    const auto loaded = test::callOnFifo(m_path, [&] { return list.load(m_path); });
    ASSERT_TRUE(loaded.has_value());
    EXPECT_FALSE(*loaded);
    EXPECT_EQ(numbersOf(list), (std::vector<std::int32_t>{7, 8}));
    EXPECT_NE(failureText(*loaded).find("not a regular file"), std::string::npos)
        << failureText(*loaded);
}

TEST_F(PdbFile, HugeCountAllocatesNothingLarge)
{
    for (std::int32_t announced : {0x7FFFFFFF, 1000000, 3}) {
        test::writeBytes(m_path, pdbBytes(announced, {rec(1), rec(2)}));
        PtzProtocolList list = listOf({40});
        test::resetLargestAllocation();
        EXPECT_FALSE(list.LoadFile(m_path));
        EXPECT_LT(test::largestAllocation(), 64 * 1024u) << announced;
        EXPECT_EQ(list.GetCount(), 0);
    }
}

TEST_F(PdbFile, FailedSaveLeavesTheOldFileAndNoTemporary)
{
    ASSERT_TRUE(listOf({1}).SaveFile(m_path));
    const ByteVector old = test::readBytes(m_path);

    // Five records need 8992 bytes; the child may write 4096.
    const int result = test::runWithFileSizeLimit(4096, [this] {
        const PtzProtocolList list = listOf({1, 2, 3, 4, 5});
        const auto saved = list.save(m_path);
        if (saved)
            return 1;
        return failureText(saved).find("File too large") != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(result, 0) << "1: the save reported success, 2: no EFBIG in the error";
    EXPECT_EQ(test::readBytes(m_path), old);
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"protocols.pdb"});
}

TEST_F(PdbFile, SaveIntoAMissingFolderFails)
{
    const std::string path = m_dir.file("no/such/folder.pdb");
    PtzProtocolList list = listOf({1});
    const auto saved = list.save(path);
    EXPECT_FALSE(saved);
    EXPECT_NE(failureText(saved).find("No such file"), std::string::npos) << failureText(saved);
    EXPECT_TRUE(m_dir.entries().empty());
}

TEST_F(PdbFile, SaveOverAFolderFailsAndLeavesNoTemporary)
{
    ASSERT_EQ(::mkdir(m_path.c_str(), 0700), 0);
    EXPECT_FALSE(listOf({1}).SaveFile(m_path));
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"protocols.pdb"});
}

} // namespace
} // namespace tolvane
