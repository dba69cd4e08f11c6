#include "core/base/temporary_file.h"
#include "support/file_io.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {
namespace {

using ByteVector = std::vector<std::uint8_t>;
using Kind = TemporaryFile::Kind;

class TemporaryFileKinds : public ::testing::TestWithParam<Kind> {
protected:
    // Named files show in the folder from the start, unnamed ones not at all.
    TemporaryFile create()
    {
        const std::size_t before = m_dir.entryCount();
        auto created = TemporaryFile::create(m_dir.path(), ".temp-", GetParam());
        EXPECT_TRUE(created) << created.failure().text();
        EXPECT_EQ(m_dir.entryCount(), before + (GetParam() == Kind::Named ? 1u : 0u));
        return std::move(created).value();
    }

    test::TempDir m_dir;
};

// A taken name is never replaced; a free one receives the file, private as it was made.
TEST_P(TemporaryFileKinds, PlacedOnlyUnderAFreeName)
{
    test::writeFileBytes(m_dir.file("0001.bin"), ByteVector{9});
    {
        TemporaryFile file = create();
        ASSERT_TRUE(file.write("\1\2\3", 3));
        const auto taken = file.placeAs(m_dir.file("0001.bin"));
        ASSERT_FALSE(taken);
        EXPECT_EQ(taken.failure().error, EEXIST);
        ASSERT_TRUE(file.placeAs(m_dir.file("0002.bin")));
    }
    EXPECT_EQ(test::readFileBytes(m_dir.file("0001.bin")), ByteVector{9});
    EXPECT_EQ(test::readFileBytes(m_dir.file("0002.bin")), (ByteVector{1, 2, 3}));
    struct stat info {};
    ASSERT_EQ(::stat(m_dir.file("0002.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(m_dir.entries(), (std::vector<std::string>{"0001.bin", "0002.bin"}));
}

TEST_P(TemporaryFileKinds, UnplacedFileLeavesNothing)
{
    {
        TemporaryFile file = create();
        ASSERT_TRUE(file.write("abc", 3));
    }
    EXPECT_EQ(m_dir.entryCount(), 0u);

    // Without its name the content stays reachable through the descriptor alone.
    TemporaryFile file = create();
    ASSERT_TRUE(file.write("xy", 2));
    file.dropName();
    EXPECT_EQ(m_dir.entryCount(), 0u);
    const int descriptor = file.release();
    char back[2] = {};
    EXPECT_EQ(::pread(descriptor, back, 2, 0), 2);
    EXPECT_EQ(std::string(back, 2), "xy");
    ::close(descriptor);
}

INSTANTIATE_TEST_SUITE_P(Both, TemporaryFileKinds, ::testing::Values(Kind::Unnamed, Kind::Named),
                         [](const auto& row) {
                             return std::string(row.param == Kind::Named ? "Named" : "Unnamed");
                         });

} // namespace
} // namespace tolvane
