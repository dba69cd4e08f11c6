#include "core/image/mapped_file.h"
#include "support/child_process.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {
namespace {

using test::readFileBytes;
using test::TempDir;
using test::writeFileBytes;

std::vector<std::uint8_t> patternBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// How many of this process's descriptors refer to path.
int descriptorsOpenOn(const std::string& path)
{
    const auto target = std::filesystem::canonical(path);
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto link = std::filesystem::read_symlink(entry.path(), error);
        if (!error && link == target)
            ++count;
    }
    return count;
}

std::size_t pageSize()
{
    return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

class MappedFileTest : public ::testing::Test {
protected:
    // A file of patternBytes(size) in the test's folder; its path.
    std::string patternFile(const std::string& name, std::size_t size) const
    {
        const std::string path = m_dir.file(name);
        writeFileBytes(path, patternBytes(size));
        return path;
    }

    TempDir m_dir;
};

TEST_F(MappedFileTest, MissingFileGivesNoViewAndNoDescriptor)
{
    MappedFile file;
    const auto view = file.open(m_dir.file("absent.bin"));
    EXPECT_FALSE(view);
    EXPECT_EQ(file.descriptor(), -1);
    EXPECT_EQ(file.length(), 0u);
    EXPECT_EQ(file.viewLength(), 0u);
    EXPECT_EQ(view.failure().text(),
              "open " + m_dir.file("absent.bin") + ": No such file or directory");
}

TEST_F(MappedFileTest, ZeroLengthFileCannotBeMappedButStaysOpen)
{
    const std::string path = m_dir.file("empty.bin");
    writeFileBytes(path, {});
    MappedFile file;
    const auto view = file.open(path);
    EXPECT_FALSE(view);
    EXPECT_EQ(file.view(), nullptr);
    EXPECT_GE(file.descriptor(), 0);
    EXPECT_EQ(file.length(), 0u);
    EXPECT_EQ(view.failure().text(), path + " is empty");
    file.close();
    EXPECT_EQ(file.descriptor(), -1);
    EXPECT_EQ(descriptorsOpenOn(path), 0);
}

TEST_F(MappedFileTest, DirectoryCannotBeMapped)
{
    MappedFile file;
    EXPECT_FALSE(file.open(m_dir.path()));
    EXPECT_EQ(file.view(), nullptr);
}

TEST_F(MappedFileTest, FifoIsRefusedWithoutWaitingForAWriter)
{
    const std::string path = m_dir.file("pipe.bin");
    ASSERT_TRUE(test::makeFifo(path));
    for (const bool readOnly : {true, false}) {
        MappedFile file;
        const auto view = test::callOnFifo(path, [&] { return file.open(path, 0, 0, readOnly); });
        ASSERT_TRUE(view.has_value()) << readOnly;
        ASSERT_FALSE(*view);
        EXPECT_EQ(file.descriptor(), -1);
        EXPECT_EQ(view->failure().text(), path + " is not a regular file");
    }
}

struct RangeCase {
    std::size_t offsetPages;
    std::size_t offsetExtra;
    std::uint32_t length; // 0: to the end
};

class MappedFileRangeTest : public ::testing::TestWithParam<RangeCase> {
protected:
    TempDir m_dir;
};

TEST_P(MappedFileRangeTest, ViewStartsAtTheRequestedByte)
{
    const std::size_t size = 3 * pageSize() + 123;
    const std::vector<std::uint8_t> bytes = patternBytes(size);
    const std::string path = m_dir.file("pattern.bin");
    writeFileBytes(path, bytes);

    const RangeCase range = GetParam();
    const std::size_t offset = range.offsetPages * pageSize() + range.offsetExtra;
    const std::size_t expectedLength = range.length == 0 ? size - offset : range.length;

    MappedFile file;
    const auto mapped = file.open(path, static_cast<std::uint32_t>(offset), range.length);
    ASSERT_TRUE(mapped);
    const std::uint8_t* view = *mapped;
    EXPECT_EQ(file.viewLength(), expectedLength);
    EXPECT_EQ(file.length(), size); // the file's size, not the view's
    EXPECT_EQ(std::memcmp(view, bytes.data() + offset, expectedLength), 0);
}

INSTANTIATE_TEST_SUITE_P(Offsets, MappedFileRangeTest,
                         ::testing::Values(RangeCase{0, 0, 0}, RangeCase{0, 0, 10},
                                           RangeCase{0, 1, 0}, RangeCase{0, 1, 5000},
                                           RangeCase{0, 4095, 2}, RangeCase{1, 0, 0},
                                           RangeCase{1, 1, 0}, RangeCase{2, 17, 100},
                                           RangeCase{3, 122, 1}, RangeCase{3, 0, 123}));

TEST_F(MappedFileTest, RangesPastTheEndAreRefused)
{
    const std::string path = patternFile("short.bin", 1000);
    MappedFile file;
    EXPECT_FALSE(file.open(path, 1000, 0));
    EXPECT_FALSE(file.open(path, 999, 2));
    EXPECT_FALSE(file.open(path, 0, 1001));
    ASSERT_TRUE(file.open(path, 999, 1));
    EXPECT_EQ(file.view()[0], patternBytes(1000)[999]);
}

TEST_F(MappedFileTest, WritesThroughAWritableViewReachTheFile)
{
    const std::size_t size = 2 * pageSize() + 50;
    const std::vector<std::uint8_t> original = patternBytes(size);
    const std::string path = m_dir.file("patch.bin");
    writeFileBytes(path, original);
    const std::size_t offset = pageSize() + 3;

    {
        MappedFile file;
        const auto mapped = file.open(path, static_cast<std::uint32_t>(offset), 4, false);
        ASSERT_TRUE(mapped);
        std::uint8_t* view = *mapped;
        view[0] = 0xDE;
        view[1] = 0xAD;
        view[2] = 0xBE;
        view[3] = 0xEF;
    }

    std::vector<std::uint8_t> expected = original;
    expected[offset] = 0xDE;
    expected[offset + 1] = 0xAD;
    expected[offset + 2] = 0xBE;
    expected[offset + 3] = 0xEF;
    EXPECT_EQ(readFileBytes(path), expected);
}

TEST_F(MappedFileTest, ReadOnlyFileMapsReadOnly)
{
    const std::string path = patternFile("readonly.bin", 300);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    MappedFile file;
    ASSERT_TRUE(file.open(path, 0, 0, true));
    EXPECT_EQ(file.viewLength(), 300u);
}

TEST_F(MappedFileTest, ReadOnlyFileCannotBeMappedWritable)
{
    const std::string path = patternFile("readonly.bin", 300);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(std::filesystem::path(path).parent_path().c_str(), 0755), 0);
    // Root opens any file for writing: the check runs as an ordinary user.
    EXPECT_EQ(test::runAsOrdinaryUser([&] {
                  MappedFile file;
                  return !file.open(path, 0, 0, false) && file.descriptor() == -1 &&
                                 file.open(path, 0, 0, true)
                             ? 0
                             : 1;
              }),
              0);
}

TEST_F(MappedFileTest, OpeningAgainClosesThePreviousFile)
{
    const std::string first = patternFile("first.bin", 100);
    const std::string second = patternFile("second.bin", 200);

    MappedFile file;
    ASSERT_TRUE(file.open(first));
    EXPECT_EQ(descriptorsOpenOn(first), 1);
    ASSERT_TRUE(file.open(second));
    EXPECT_EQ(descriptorsOpenOn(first), 0);
    EXPECT_EQ(descriptorsOpenOn(second), 1);
    EXPECT_EQ(file.length(), 200u);

    // A failed map leaves its file open; opening again still closes it.
    ASSERT_FALSE(file.open(second, 500, 0));
    EXPECT_EQ(descriptorsOpenOn(second), 1);
    ASSERT_TRUE(file.open(first));
    EXPECT_EQ(descriptorsOpenOn(second), 0);
}

TEST_F(MappedFileTest, UnmapKeepsTheFileAndCloseReleasesIt)
{
    const std::string path = patternFile("data.bin", 5000);
    MappedFile file;
    ASSERT_TRUE(file.open(path));
    file.unmap();
    EXPECT_EQ(file.view(), nullptr);
    EXPECT_EQ(file.viewLength(), 0u);
    EXPECT_EQ(file.length(), 5000u);
    EXPECT_EQ(descriptorsOpenOn(path), 1);

    // The open descriptor can be mapped again at another range.
    const auto mapped = file.map(file.descriptor(), 4097, 0, true);
    ASSERT_TRUE(mapped);
    const std::uint8_t* view = *mapped;
    EXPECT_EQ(file.viewLength(), 5000u - 4097u);
    EXPECT_EQ(view[0], patternBytes(5000)[4097]);

    file.close();
    EXPECT_EQ(file.descriptor(), -1);
    EXPECT_EQ(file.length(), 0u);
    EXPECT_EQ(descriptorsOpenOn(path), 0);
}

TEST_F(MappedFileTest, DestructionReleasesTheFile)
{
    const std::string path = patternFile("data.bin", 64);
    {
        MappedFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(descriptorsOpenOn(path), 1);
    }
    EXPECT_EQ(descriptorsOpenOn(path), 0);
}

} // namespace
} // namespace tolvane
