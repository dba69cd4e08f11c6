// `tolvane-cli inspect` and `version` of a 64 MiB firmware image with the file in the page cache:
// in process, and as whole processes beside `tolvane-cli --help`, which is what a production
// line's script pays per call. Medians of several runs beside the goals.

#include "bench_support.h"
#include "cli/cli.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <vector>

extern char** environ;

namespace {

using tolvane::bench::median;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point started)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// A negative time when the command fails.
double inProcessMs(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const auto started = Clock::now();
    const int status = tolvane::cli::runCli(args, out, err, {});
    if (status != 0) {
        std::fprintf(stderr, "%s", err.str().c_str());
        return -1;
    }
    return msSince(started);
}

double processMs(const std::vector<std::string>& args)
{
    std::vector<std::string> words{TOLVANE_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto started = Clock::now();
    pid_t child = 0;
    int status = -1;
    const bool ran = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                     waitpid(child, &status, 0) == child;
    const double elapsed = msSince(started);
    posix_spawn_file_actions_destroy(&actions);
    return ran && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

// Runs the measurements in turn, so that a drift of the machine falls on all of them alike.
std::vector<double> interleavedMedians(const std::vector<std::function<double()>>& measurements,
                                       int runs)
{
    std::vector<std::vector<double>> times(measurements.size());
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < measurements.size(); ++i) {
            const double ms = measurements[i]();
            if (ms < 0)
                return std::vector<double>(measurements.size(), -1);
            times[i].push_back(ms);
        }
    }
    std::vector<double> medians;
    for (auto& series : times)
        medians.push_back(median(series));
    return medians;
}

} // namespace

int main()
{
    tolvane::test::TempDir dir;
    const std::string image = dir.file("app-64MiB.img");
    tolvane::test::FirmwareImageBuilder(
        tolvane::test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.5.2")
        .totalSize(64u << 20)
        .writeTo(image);
    const std::vector<std::string> help{"--help"};
    const std::vector<std::string> version{"version", image, "--app-only"};
    const std::vector<std::string> inspect{"inspect", image};

    const auto inProcess =
        interleavedMedians({[&] { return inProcessMs(help); }, [&] { return inProcessMs(version); },
                            [&] { return inProcessMs(inspect); }},
                           11);
    const auto asProcess = interleavedMedians(
        {[&] { return processMs(help); }, [&] { return processMs(version); }}, 31);

    std::printf("%-44s %10s %14s\n", "command (64 MiB image)", "median ms", "goal ms");
    std::printf("%-44s %10.1f %14s\n", "tolvane-cli --help, in process", inProcess[0], "");
    std::printf("%-44s %10.1f %14s\n", "tolvane-cli version --app-only, in process", inProcess[1],
                "");
    std::printf("%-44s %10.1f %14s\n", "tolvane-cli inspect, in process", inProcess[2], "80");
    std::printf("%-44s %10.1f %14s\n", "tolvane-cli --help, as a process", asProcess[0], "");
    std::printf("%-44s %10.1f %14s\n", "tolvane-cli version --app-only, as a process", asProcess[1],
                "--help + 5");
    std::printf("%-44s %10.1f %14s\n", "  difference", asProcess[1] - asProcess[0], "5");
    return 0;
}
