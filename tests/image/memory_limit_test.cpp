// The version reader under a tight address-space limit, in a child process: a failed allocation
// is result -2 (message 125 from the routines), and neither a large image nor a member length
// that is garbage costs more than the 4 MiB output and a block of the member.
#include "core/download/download_routines.h"
#include "core/image/image_version.h"
#include "support/firmware_image.h"
#include "support/recording_operator.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#define TOLVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_ASAN 1
#endif
#endif

namespace tolvane {
namespace {

using test::FirmwareImageBuilder;
using test::RecordingOperator;
using test::TempDir;
using Layout = FirmwareImageBuilder::Layout;

constexpr rlim_t MiB = 1024 * 1024;

// Limits this process's address space to what it uses now plus headroom; false if impossible.
bool limitAddressSpace(rlim_t headroom)
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return false;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    if (!read)
        return false;
    const rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
    const rlimit value{limit, limit};
    return ::setrlimit(RLIMIT_AS, &value) == 0;
}

class MemoryLimitDeathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef TOLVANE_ASAN
        GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
#endif
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }

    TempDir m_dir;
};

TEST_F(MemoryLimitDeathTest, NoRoomForTheOutputIsMinusTwo)
{
    const std::string path = m_dir.file("app.bin");
    FirmwareImageBuilder(Layout::ApplicationOnly).writeTo(path);
    EXPECT_EXIT(
        {
            if (!limitAddressSpace(1 * MiB))
                std::_Exit(2);
            std::ostringstream diagnostics;
            std::_Exit(readImageVersion(path, true, diagnostics) == VersionOutOfMemory ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MemoryLimitDeathTest, RoutinesShowTheOutOfMemoryMessage)
{
    const std::string app = m_dir.file("app.bin");
    const std::string full = m_dir.file("full.bin");
    FirmwareImageBuilder(Layout::ApplicationOnly).writeTo(app);
    FirmwareImageBuilder().writeTo(full);
    EXPECT_EXIT(
        {
            RecordingOperator op;
            RecordingOperator integrated;
            // The temporary copy goes next to the images.
            ::setenv("TMPDIR", m_dir.path().c_str(), 1);
            if (!limitAddressSpace(1 * MiB))
                std::_Exit(2);
            downloadApplicationImage(op, app, {"127.0.0.1", 1});
            downloadIntegratedImage(integrated, full, {"127.0.0.1", 1},
                                    {"0012AB34CD56", 1, true, true, false});
            const std::vector<MessageId> expected{MessageId::OutOfMemoryReadingImage};
            std::_Exit(op.messages() == expected && op.jobs().empty() &&
                               integrated.messages() == expected && integrated.jobs().empty()
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(m_dir.entryCount(), 2u); // no copy left behind
}

TEST_F(MemoryLimitDeathTest, LargeImageIsNotReadWhole)
{
    const std::string path = m_dir.file("large.bin");
    FirmwareImageBuilder(Layout::ApplicationOnly).version("6.0.1").writeTo(path);
    // 1 GiB, sparse: only the header and member hold data.
    if (!test::resizeSparse(path, std::uint64_t{1} << 30))
        GTEST_SKIP() << "no sparse files here";
    EXPECT_EXIT(
        {
            if (!limitAddressSpace(64 * MiB))
                std::_Exit(2);
            std::ostringstream diagnostics;
            std::_Exit(readImageVersion(path, true, diagnostics) == 0x06000100 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MemoryLimitDeathTest, GarbageMemberLengthCostsOneBlock)
{
    // The header claims a 2 GiB member in a sparse file that long; the real member ends early and
    // the bytes after its trailer are never looked at, so the version still reads.
    const std::string path = m_dir.file("garbage-length.bin");
    const std::uint32_t claimed = 0x80000000u;
    FirmwareImageBuilder builder(Layout::ApplicationOnly);
    builder.version("6.0.2").headerLength(claimed);
    builder.totalSize(builder.memberOffset() + builder.member().size());
    builder.writeTo(path);
    if (!test::resizeSparse(path, builder.memberOffset() + claimed))
        GTEST_SKIP() << "no sparse files here";
    EXPECT_EXIT(
        {
            // Room for the 4 MiB output, one block and the decoder, not for the claimed member.
            if (!limitAddressSpace(16 * MiB))
                std::_Exit(2);
            std::ostringstream diagnostics;
            const std::int32_t version = readImageVersion(path, true, diagnostics);
            std::_Exit(version == 0x06000200 ? 0 : version == VersionOutOfMemory ? 3 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tolvane
