// A FIFO named where the command line expects a file is refused at once: opening or reading it
// would wait for a writer that never comes.
#include "cli/cli_test_support.h"
#include "sim/simulator.h"
#include "support/fifo_guard.h"
#include "support/file_io.h"
#include "support/loopback_simulator.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tolvane {
namespace {

using namespace cli_test;

struct FifoCase {
    const char* name;
    std::vector<std::string> args; // {fifo}, {target} and {record} are filled in
    int status;
    std::string message; // {fifo} is filled in
};

void PrintTo(const FifoCase& fifoCase, std::ostream* out)
{
    *out << fifoCase.name;
}

std::string filled(std::string text, const std::string& token, const std::string& value)
{
    if (const auto at = text.find(token); at != std::string::npos)
        text.replace(at, token.size(), value);
    return text;
}

class FifoGiven : public ::testing::TestWithParam<FifoCase> {};

TEST_P(FifoGiven, IsRefusedAtOnceAndNothingIsSent)
{
    test::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_TRUE(test::makeFifo(fifo));
    sim::Simulator simulator(test::loopbackOptions());
    ASSERT_TRUE(test::startSimulator(simulator));

    std::vector<std::string> args;
    for (const auto& arg : GetParam().args) {
        args.push_back(filled(filled(filled(arg, "{fifo}", fifo), "{target}", simulator.address()),
                              "{record}", dir.file("record.db")));
    }
    const auto run = test::callOnFifo(fifo, [&] { return test::runTolvaneCli(args); });
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, GetParam().status);
    EXPECT_THAT(run->err, HasSubstr(filled(GetParam().message, "{fifo}", fifo)));
    EXPECT_FALSE(simulator.waitForTransfers(1, std::chrono::milliseconds(200)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FifoGiven,
    ::testing::Values(
        FifoCase{"DownloadWithRecord",
                 {"download", "app", "{fifo}", "--target", "{target}", "--record", "{record}"},
                 1,
                 "Can't open the image file.\ntolvane-cli: {fifo}: not a regular file\n"},
        FifoCase{"Version",
                 {"version", "{fifo}"},
                 1,
                 "tolvane-cli: {fifo} is not a regular file\ntolvane-cli: There is a invalid data. "
                 "Please, "
                 "input again.\n"},
        FifoCase{"TargetsFile",
                 {"download", "app", "app.img", "--targets", "{fifo}"},
                 2,
                 "tolvane-cli: targets file {fifo} is not a regular file\n"},
        FifoCase{
            "Record",
            {"download", "data", "--target", "{target}", "--serial", "1", "--record", "{fifo}"},
            1,
            "{fifo} is not a regular file\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A targets file is a short list: a huge one, or a line that never ends, is refused, and what is
// echoed of a bad line is cut to 200 characters.
TEST(TargetsFileLimits, AreRefusedWithTheirReason)
{
    test::TempDir dir;
    const std::string huge = dir.file("huge");
    test::writeFileBytes(huge, {});
    ASSERT_EQ(::truncate(huge.c_str(), 2 * 1024 * 1024), 0);
    const std::string endless = dir.file("endless");
    test::writeFileBytes(endless, Bytes(5000, 'x'));
    const std::string bad = dir.file("bad");
    test::writeFileBytes(bad, Bytes(600, 'y'));

    const std::pair<std::string, std::string> cases[] = {
        {huge, "targets file " + huge + " is larger than 1 MiB\n"},
        {endless,
         endless + ":1: a line longer than 1000 bytes: " + std::string(200, 'x') + "...\n"},
        {bad,
         bad + ":1: not an IPv4 address with an optional port: " + std::string(200, 'y') + "...\n"},
    };
    for (const auto& [file, message] : cases) {
        const auto run = test::runTolvaneCli({"download", "app", "app.img", "--targets", file});
        EXPECT_EQ(run.status, 2) << file;
        EXPECT_THAT(run.err, HasSubstr("tolvane-cli: " + message)) << file;
    }
}

} // namespace
} // namespace tolvane
