// Every file the programs save whole, under every fault a save meets: the old file keeps its bytes,
// no file is left beside it, and a save that fails says which file and why.
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "support/child_process.h"
#include "support/fifo_guard.h"
#include "support/file_io.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace tolvane::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Save {
    const char* name;
    const char* file;
    std::function<std::string(const std::string& path)> run; // the error text; empty when saved
};

const Save Saves[] = {
    {"Pdb", "protocols.pdb",
     [](const std::string& path) {
         PtzProtocolList list;
         list.Grow(5); // 12 + 5 * 1796 = 8992 bytes
         const auto saved = list.save(path);
         return saved ? std::string() : saved.failure().text();
     }},
    {"Bin", "image.bin",
     [](const std::string& path) {
         PtzImage image; // 64660 bytes
         const auto written = image.write(path);
         return written ? std::string() : written.failure().text();
     }},
};

enum class Fault { SizeLimit, MissingFolder, Directory, Fifo, KilledMidWrite };
const char* const FaultNames[] = {"SizeLimit", "MissingFolder", "Directory", "Fifo", "Killed"};

// The old file holds less than the limit, and every save would take it past the limit.
constexpr std::size_t Limit = 4096;
const Bytes OldBytes = [] {
    Bytes bytes(4000, 'o');
    bytes.back() = '\n';
    return bytes;
}();

class SaveUnderFault : public ::testing::TestWithParam<std::tuple<Save, Fault>> {};

TEST_P(SaveUnderFault, LeavesTheOldFileAndSaysWhy)
{
    const auto& [save, fault] = GetParam();
    test::TempDir dir;
    std::string path = dir.file(save.file);
    // What the message must say; a folder may be named as such.
    std::vector<std::string> reasons = {"not a regular file"};
    switch (fault) {
    case Fault::SizeLimit:
    case Fault::KilledMidWrite:
        test::writeFileBytes(path, OldBytes);
        reasons = {"File too large"};
        break;
    case Fault::MissingFolder:
        path = dir.file("absent/") + save.file;
        reasons = {"No such file or directory"};
        break;
    case Fault::Directory:
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
        reasons.push_back("Is a directory");
        break;
    case Fault::Fifo: ASSERT_TRUE(test::makeFifo(path)); break;
    }
    const auto entries = dir.entries();
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    auto toldWhy = [&](const std::string& error) {
        return error.find(path) != std::string::npos &&
               std::any_of(reasons.begin(), reasons.end(), [&](const std::string& reason) {
                   return error.find(reason) != std::string::npos;
               });
    };

    if (fault == Fault::KilledMidWrite) {
        EXPECT_TRUE(test::killAtFileSizeLimit(Limit, [&] { save.run(path); }))
            << "the save ended without reaching the limit";
    } else if (fault == Fault::SizeLimit) {
        EXPECT_EQ(
            test::runWithFileSizeLimit(Limit, [&] { return toldWhy(save.run(path)) ? 0 : 1; }), 0)
            << "the save did not fail naming " << path << " and saying " << reasons[0];
    } else {
        // Bounded, as a FIFO might block an open.
        const auto error = test::callOnFifo(path, [&] { return save.run(path); });
        EXPECT_TRUE(error && toldWhy(*error)) << error.value_or("(blocked)");
    }

    EXPECT_EQ(dir.entries(), entries);
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after) == 0, existed);
    if (!existed)
        return;
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (!S_ISREG(after.st_mode))
        return;
    EXPECT_EQ(test::readFileBytes(path), OldBytes);
}

INSTANTIATE_TEST_SUITE_P(
    SavesTimesFaults, SaveUnderFault,
    ::testing::Combine(::testing::ValuesIn(Saves),
                       ::testing::Values(Fault::SizeLimit, Fault::MissingFolder, Fault::Directory,
                                         Fault::Fifo, Fault::KilledMidWrite)),
    [](const auto& row) {
        return std::string(std::get<0>(row.param).name) +
               FaultNames[static_cast<int>(std::get<1>(row.param))];
    });

// The table's children ignore SIGXFSZ; the program must do so itself, or the limit ends it before
// the save can fail and say so.
TEST(SaveUnderFault, CommandLineAtTheSizeLimitFailsInsteadOfDying)
{
    test::TempDir dir;
    test::TempDir logs;
    const std::string database = dir.file("db.pdb");
    const std::string output = dir.file("out.bin");
    const std::string stderrPath = logs.file("stderr");
    PtzProtocolList list;
    ASSERT_TRUE(list.Grow(1) && list.SaveFile(database)); // one protocol, number 0
    test::writeFileBytes(output, OldBytes);
    const auto entries = dir.entries();

    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit small{Limit, Limit};
        const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::setrlimit(RLIMIT_FSIZE, &small) == 0 && ::dup2(err, STDERR_FILENO) >= 0)
            ::execl(TOLVANE_CLI_PROGRAM, "tolvane-cli", "ptz", "build", database.c_str(), "0",
                    "--output", output.c_str(), static_cast<char*>(nullptr));
        ::_exit(100);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                : "exit status " + std::to_string(WEXITSTATUS(status)));
    const Bytes said = test::readFileBytes(stderrPath);
    EXPECT_NE(std::string(said.begin(), said.end()).find("out.bin: File too large"),
              std::string::npos);
    EXPECT_EQ(test::readFileBytes(output), OldBytes);
    EXPECT_EQ(dir.entries(), entries);
}

} // namespace
} // namespace tolvane::cli
