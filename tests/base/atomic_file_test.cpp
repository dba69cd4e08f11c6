#include "core/base/atomic_file.h"
#include "support/child_process.h"
#include "support/file_io.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {
namespace {

using ByteVector = std::vector<std::uint8_t>;

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

constexpr AtomicFile::Temporary BothTemporaries[] = {AtomicFile::Temporary::Unnamed,
                                                     AtomicFile::Temporary::Named};

TEST(AtomicFile, ReplacesContentAndKeepsPermissions)
{
    for (const auto temporary : BothTemporaries) {
        test::TempDir dir;
        const std::string path = dir.file("a.bin");
        test::writeFileBytes(path, ByteVector(100, 0xAA));
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        AtomicFile file(path, temporary);
        Result<void> saved = file.open();
        if (saved)
            saved = file.write("\1\2\3", 3);
        if (saved)
            saved = file.commit();
        ASSERT_TRUE(saved) << saved.failure().text();
        EXPECT_EQ(test::readFileBytes(path), (ByteVector{1, 2, 3}));
        EXPECT_EQ(modeOf(path), 0640u);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"a.bin"});
    }
}

// A FIFO, a folder or a link to nothing is never renamed over: the save is refused, saying why, and
// the folder holds exactly what it held.
TEST(AtomicFile, TargetsThatAreNotRegularFilesAreRefused)
{
    const struct {
        const char* name;
        std::function<bool(const std::string&)> make;
        const char* says;
    } cases[] = {
        {"pipe", [](const std::string& p) { return ::mkfifo(p.c_str(), 0644) == 0; },
         "is not a regular file"},
        {"folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0755) == 0; },
         "is not a regular file"},
        {"dangling",
         [](const std::string& p) { return ::symlink("/nonexistent/x", p.c_str()) == 0; },
         "leads to no file"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(c.make(path)) << c.name;
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);
        const auto written = writeFileAtomically(path, ByteVector{1, 2});
        ASSERT_FALSE(written) << c.name;
        const std::string error = written.failure().text();
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0) << c.name;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{c.name});
    }
}

TEST(AtomicFile, NewFileIsNotLeftPrivate)
{
    test::TempDir dir;
    const std::string path = dir.file("new.bin");
    const mode_t old = ::umask(022);
    const bool ok = writeFileAtomically(path, ByteVector{9}).ok();
    ::umask(old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(modeOf(path), 0644u); // not mkstemp's 0600
}

TEST(AtomicFile, LinkIsFollowedAndKept)
{
    test::TempDir dir;
    const std::string real = dir.file("real.pdb");
    const std::string link = dir.file("link.pdb");
    test::writeFileBytes(real, ByteVector{1});
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(link, ByteVector{7, 7}));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::readFileBytes(real), (ByteVector{7, 7}));
}

// The unnamed temporary file shows nowhere while it is written; the named one is hidden beside
// the target. Neither outlives an abandoned write.
TEST(AtomicFile, AbandonedWriteLeavesTargetAndNoTemporary)
{
    for (const auto temporary : BothTemporaries) {
        test::TempDir dir;
        const std::string path = dir.file("keep.bin");
        test::writeFileBytes(path, ByteVector{5, 6});
        {
            AtomicFile file(path, temporary);
            ASSERT_TRUE(file.open());
            EXPECT_EQ(dir.entries().size(), temporary == AtomicFile::Temporary::Named ? 2u : 1u);
            ASSERT_TRUE(file.write("xyz", 3));
        }
        EXPECT_EQ(test::readFileBytes(path), (ByteVector{5, 6}));
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.bin"});
    }
}

TEST(AtomicFile, ErrorCarriesErrnoAndPath)
{
    test::TempDir dir;
    const std::string path = dir.file("missing/x.bin");
    AtomicFile file(path);
    const auto opened = file.open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.failure().error, ENOENT);
    const std::string error = opened.failure().text();
    EXPECT_NE(error.find(dir.file("missing/")), std::string::npos) << error;
    EXPECT_FALSE(file.write("a", 1));
    EXPECT_FALSE(file.commit());
}

TEST(AtomicFile, ReadOnlyTargetIsRefusedAndLeftAlone)
{
    // The folder stays writable, so only the file's own permission can stop the rename.
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string path = dir.file("locked.pdb");
    const ByteVector old = {1, 2, 3, 4};

    const int result = test::runAsOrdinaryUser([&] {
        FILE* made = std::fopen(path.c_str(), "wb");
        if (made == nullptr || std::fwrite(old.data(), 1, old.size(), made) != old.size() ||
            std::fclose(made) != 0 || ::chmod(path.c_str(), 0444) != 0)
            return 10;
        AtomicFile file(path);
        const auto opened = file.open();
        if (opened)
            return 1;
        if (opened.failure().error != EACCES)
            return 2;
        if (opened.failure().text().find(path) == std::string::npos)
            return 3;
        if (writeFileAtomically(path, ByteVector{9, 9}))
            return 4;
        return 0;
    });
    if (result == test::CouldNotDropRoot)
        GTEST_SKIP() << "cannot switch to an unprivileged user";
    EXPECT_EQ(result, 0) << "1, 4: the file was replaced; 2: not EACCES; 3: no path in the error; "
                            "10: could not make the file";
    EXPECT_EQ(test::readFileBytes(path), old);
    EXPECT_EQ(modeOf(path), 0444u);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"locked.pdb"});
}

} // namespace
} // namespace tolvane
