// --json: a batch's results on stdout as a script reads them, parsed back with nlohmann-json.
#include "cli/cli_test_support.h"
#include "support/transfer_test_support.h"

#include <nlohmann/json.hpp>

#include <map>
#include <sstream>

namespace tolvane {
namespace {

using namespace cli_test;
using Json = nlohmann::json;

TEST_F(CliDownload, JsonGivesEachUnitAsItEndsThenTheSummary)
{
    auto first = startSimulator();
    auto second = startSimulator();
    const test::UnusedPort closed;
    const std::string dead = "127.0.0.1:" + std::to_string(closed.port());
    const auto run = test::runTolvaneCli(
        {"download", "data", "--target", first->address(), "--target", dead, "--target",
         second->address(), "--mac", "0012AB34CD56", "--serial", "7", "--auto-increase", "--json"});
    EXPECT_EQ(run.status, 1);

    std::vector<Json> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(Json::parse(line)); // throws, failing the test, on anything but JSON
    ASSERT_EQ(lines.size(), 4u) << run.out;

    // Units end in any order; each target once, with its consecutive identity.
    const std::map<std::string, Json> expected = {
        {first->address(), {{"result", "ok"}, {"mac", "0012AB34CD56"}, {"serial", 7}}},
        {dead,
         {{"result", "failed"},
          {"mac", "0012AB34CD57"},
          {"serial", 8},
          {"message", "Can't connect to the machine."}}},
        {second->address(), {{"result", "ok"}, {"mac", "0012AB34CD58"}, {"serial", 9}}},
    };
    std::map<std::string, Json> units;
    for (std::size_t i = 0; i < 3; ++i) {
        const Json& unit = lines[i];
        EXPECT_EQ(unit.size(), 6u) << unit;
        EXPECT_TRUE(unit.at("seconds").is_number()) << unit;
        EXPECT_TRUE(unit.at("message").is_string()) << unit;
        units[unit.at("target").get<std::string>()] = unit;
    }
    ASSERT_EQ(units.size(), 3u);
    for (const auto& [target, fields] : expected) {
        for (const auto& [name, value] : fields.items())
            EXPECT_EQ(units[target].at(name), value) << target << " " << name;
    }

    const Json summary = {{"summary",
                           {{"units", 3},
                            {"ok", 2},
                            {"failed", 1},
                            {"unconfirmed", 0},
                            {"refused", 0},
                            {"next_mac", "0012AB34CD59"},
                            {"next_serial", 10}}}};
    EXPECT_EQ(lines[3], summary);
    // The people's view stays on stderr.
    EXPECT_THAT(run.err, HasSubstr("2 of 3 units succeeded."));
    received(*first, 1);
    received(*second, 1);
}

} // namespace
} // namespace tolvane
