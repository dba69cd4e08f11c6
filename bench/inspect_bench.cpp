// `tolvane-cli inspect` and `version` of a 64 MiB firmware image, in process, with the file in
// the page cache: the median of several runs beside the goal.

#include "cli/cli.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(const std::vector<std::string>& args, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        std::ostringstream out, err;
        const auto started = Clock::now();
        const int status = tolvane::cli::runCli(args, out, err, {});
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        if (status != 0) {
            std::fprintf(stderr, "%s", err.str().c_str());
            return -1;
        }
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    tolvane::test::TempDir dir;
    const std::string image = dir.file("app-64MiB.img");
    tolvane::test::FirmwareImageBuilder(tolvane::test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.5.2")
        .totalSize(64u << 20)
        .writeTo(image);

    std::printf("%-34s %10s %10s\n", "command (64 MiB image)", "median ms", "goal ms");
    std::printf("%-34s %10.1f %10s\n", "tolvane-cli --help", medianMs({"--help"}, 11), "");
    std::printf("%-34s %10.1f %10s\n", "tolvane-cli version --app-only",
                medianMs({"version", image, "--app-only"}, 11), "--help + 5");
    std::printf("%-34s %10.1f %10s\n", "tolvane-cli inspect", medianMs({"inspect", image}, 11),
                "80");
    return 0;
}
