// A batch whose production record is on a PostgreSQL server that stops in the middle: the command
// line in process against simulators on 127.0.0.1 and a throwaway cluster, with the rows read back
// through libpq as the cluster's superuser.
#include "cli/cli_test_support.h"
#include "support/loopback_simulator.h"
#include "support/postgres_cluster.h"

#include <thread>

namespace tolvane {
namespace {

using namespace cli_test;

TEST_F(CliDownload, ServerStoppedMidBatchReportsTheUnitInProgressAndSendsNoLaterMac)
{
    std::string error;
    test::PostgresCluster* cluster = test::sharedPostgresCluster(&error);
    ASSERT_TRUE(cluster) << error;
    const auto database = cluster->freshDatabase(&error);
    ASSERT_TRUE(database) << error;
    const auto units = [&] {
        std::string ignored; // no table yet until the run creates it
        return cluster
            ->query(*database, "SELECT mac, result, mac_in_use FROM units ORDER BY id", &ignored)
            .value_or(test::SqlRows{});
    };

    // The first recorder takes seconds to write, so the server can stop while it is in progress.
    auto slowOptions = test::loopbackOptions();
    slowOptions.writeTime = std::chrono::seconds(3);
    sim::Simulator slow(slowOptions);
    ASSERT_TRUE(test::startSimulator(slow));
    auto second = startSimulator();
    auto third = startSimulator();
    test::CliRun run;
    std::jthread batch([&] {
        run = test::runTolvaneCli({"download", "data", "--target", slow.address(), "--target",
                                   second->address(), "--target", third->address(), "--mac",
                                   "0012AB000010", "--jobs", "1", "--record",
                                   cluster->location(*database), "--quiet"});
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && units().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool stopped = cluster->stopServer(&error);
    batch.join();
    ASSERT_TRUE(stopped) << error;

    EXPECT_EQ(run.status, 1) << run.err;
    // The unit in progress finished its transfer, but its outcome could not be written.
    EXPECT_THAT(run.err, HasSubstr(slow.address() + ": record postgresql://"));
    const auto sent = received(slow, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].typeCode, MacCode);
    EXPECT_THAT(run.err, HasSubstr("; MAC address 0012AB000011 not sent."));
    EXPECT_THAT(run.err, HasSubstr("; MAC address 0012AB000012 not sent."));
    expectNothingReceived(*second);
    expectNothingReceived(*third);

    // The record keeps the pending row written before the MAC went out, and nothing after it.
    ASSERT_TRUE(cluster->startServer(&error)) << error;
    EXPECT_EQ(units(), (test::SqlRows{{"0012AB000010", "pending", "1"}}));
}

} // namespace
} // namespace tolvane
