// record units and record release on a record of hand-made rows, and a download of the MAC
// released.
#include "cli/cli_test_support.h"

#include <fstream>

namespace tolvane {
namespace {

using namespace cli_test;

TEST_F(CliDownload, ReleaseFreesAnUnconfirmedMacButNotASucceededOne)
{
    const std::string record = m_dir.file("units.db");
    const std::string lines = m_dir.file("old.jsonl");
    std::ofstream(lines)
        << R"({"time":"2026-12-08T06:00:01.000Z","target":"127.0.0.1:5000","mac":"0012AB000001","serial":5,"unit":"u1","result":"unconfirmed"})"
           "\n"
           R"({"time":"2026-12-08T06:00:02.000Z","target":"127.0.0.1:5001","mac":"0012AB000002","unit":"u2","result":"ok","version":"3.5.1"})"
           "\n";
    ASSERT_EQ(test::runTolvaneCli({"record", "import", lines, "--into", record}).status, 0);

    auto run = test::runTolvaneCli({"record", "units", record});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\n0012AB000001  5           unconfirmed  1         "
                                   "2026-12-08T06:00:01.000Z  2026-12-08T06:00:01.000Z  "
                                   "127.0.0.1:5000  -      -\n"));

    run = test::runTolvaneCli({"record", "release", record, "0012ab000002", "--reason", "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("MAC address 0012AB000002 belongs to unit u2: ok"));
    run = test::runTolvaneCli(
        {"record", "release", record, "0012AB000001", "--reason", "checked", "--bench", "b7"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Released MAC address 0012AB000001 of unit u1: unconfirmed on "
                       "127.0.0.1:5000 at 2026-12-08T06:00:01.000Z in " +
                           record + ".\n");

    run = test::runTolvaneCli({"record", "units", record, "--format", "csv"});
    EXPECT_THAT(run.out, HasSubstr("\r\n0012AB000001,5,released,1,2026-12-08T06:00:01.000Z,"));
    EXPECT_THAT(run.out, HasSubstr(",127.0.0.1:5000,b7,\r\n"));
    run = test::runTolvaneCli({"record", "units", record, "--format", "jsonl"});
    EXPECT_THAT(run.out, HasSubstr(R"("state":"ok","attempts":1,"first_time":"2026-12-08T06:00:)"
                                   R"(02.000Z","last_time":"2026-12-08T06:00:02.000Z","target":)"
                                   R"("127.0.0.1:5001","bench":null,"version":"3.5.1"})"));

    // The released MAC goes out again.
    auto simulator = startSimulator();
    run = test::runTolvaneCli({"download", "data", "--target", simulator->address(), "--mac",
                               "0012AB000001", "--record", record, "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(received(*simulator, 1).size(), 1u);
}

} // namespace
} // namespace tolvane
