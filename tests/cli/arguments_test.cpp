// Command lines that must be refused as usage errors (exit 2) before anything is sent, and the
// values the accepted ones carry.
#include "cli/arguments.h"
#include "cli/cli_test_support.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>

namespace tolvane::cli {
namespace {

using Args = std::vector<std::string>;
using ::testing::HasSubstr;
using ::testing::Not;

class UsageErrors : public ::testing::TestWithParam<Args> {};

TEST_P(UsageErrors, ExitTwoWithReasonOnStderrAndNothingOnStdout)
{
    const auto run = test::runTolvaneCli(GetParam());
    EXPECT_EQ(run.status, ExitUsage) << run.err;
    EXPECT_NE(run.err.find("tolvane-cli: "), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageErrors,
    ::testing::Values(
        Args{"frobnicate"}, Args{"download"}, Args{"download", "firmware", "x.bin"},
        Args{"download", "app"},                                     // no image
        Args{"download", "app", "x.bin"},                            // no target
        Args{"download", "app", "x.bin", "--target", "recorder"},    // not an address
        Args{"download", "app", "x.bin", "--target", "127.0.0.1:0"}, // port 0
        Args{"download", "app", "x.bin", "--target", "127.0.0.300"}, // octet too big
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--target", "127.0.0.1:5000"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--target", "127.0.0.1:05000"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.01"}, // leading zero
        Args{"download", "app", "x.bin", "--target", "0.0.0.0"},
        Args{"download", "app", "x.bin", "--target", "224.0.0.1"}, // multicast
        Args{"download", "app", "x.bin", "--target"},              // value missing
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--mac", "0012AB34CD56"},
        Args{"download", "ptz", "x.bin", "--target", "127.0.0.1", "--serial", "1"},
        Args{"download", "app", "x.bin", "extra", "--target", "127.0.0.1"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--jobs", "0"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--jobs", "many"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--jobs", "2", "--jobs", "3"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--verbose"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--quiet=yes"},
        Args{"download", "app", "x.bin", "--targets", "/nonexistent/targets.txt"},
        Args{"download", "data", "--target", "127.0.0.1"}, // neither --mac nor --serial
        Args{"download", "data", "--target", "127.0.0.1", "--mac", "0012AB34CD5"},
        Args{"download", "data", "--target", "127.0.0.1", "--mac", "0012AB34CD5G"},
        Args{"download", "data", "--target", "127.0.0.1", "--mac", "0012AB34CD567"},
        Args{"download", "data", "--target", "127.0.0.1", "--serial", "4294967296"},
        Args{"download", "data", "--target", "127.0.0.1", "--serial", "-1"},
        Args{"download", "data", "--target", "127.0.0.1", "--serial", "1", "--auto-increase"},
        Args{"download", "integrated", "x.bin", "--target", "127.0.0.1", "--auto-increase"},
        Args{"version"}, Args{"version", "a.bin", "b.bin"},
        Args{"version", "a.bin", "--target", "127.0.0.1"}, Args{"inspect"},
        Args{"inspect", "a.bin", "--app-only"}, Args{"ptz"}, Args{"ptz", "edit", "a.pdb"},
        Args{"ptz", "show"}, Args{"ptz", "verify", "a.bin", "b.bin"},
        Args{"ptz", "build", "db.pdb", "1", "2"},              // no --output
        Args{"ptz", "build", "db.pdb", "--output", "out.bin"}, // no numbers
        Args{"ptz", "build", "db.pdb", "1", "two", "--output", "out.bin"},
        Args{"ptz", "build", "db.pdb", "2147483648", "--output", "out.bin"},
        Args{"ptz", "build", "db.pdb", "1", "--output", "a.bin", "--output", "b.bin"},
        Args{"download", "app", "x.bin", "--target", "127.0.0.1", "--skip-used-macs"},
        Args{"record"}, Args{"record", "list", "r.jsonl"}, Args{"record", "show"},
        Args{"record", "show", ""}, Args{"record", "show", "r.jsonl", "--mac", "0012AB34CD5"},
        Args{"record", "show", "r.jsonl", "--since", "2023-02-29"}, // not a leap year
        Args{"record", "show", "r.jsonl", "--since", "2024-04-31"},
        Args{"record", "show", "r.jsonl", "--since", "2024-05-01T24:00:00"},
        Args{"record", "show", "r.jsonl", "--since", "2024-05-01 10:00:00"},
        Args{"record", "show", "r.jsonl", "--since", "2024-05-01T10:00:00+02:00"},
        Args{"record", "show", "r.jsonl", "--since", "2024-5-1"},
        Args{"record", "show", "r.jsonl", "--format", "csv"},
        Args{"record", "export", "r.jsonl"}, // no --format
        Args{"record", "export", "r.jsonl", "--format", "xml"},
        Args{"record", "import", "new.jsonl"}, // no --into
        Args{"record", "import", "new.jsonl", "--into", ""},
        Args{"record", "import", "new.jsonl", "r.jsonl"},
        Args{"record", "units", "r.db", "--format", "xml"},
        Args{"record", "release", "r.db", "0012AB34CD56"}, // no --reason
        Args{"record", "release", "r.db", "0012AB34CD5", "--reason", "checked"}));

TEST(Help, PrintsUsageOnStdoutAndSucceeds)
{
    for (const Args& args : {Args{"--help"}, Args{"help"}, Args{"download", "-h"}}) {
        const auto run = test::runTolvaneCli(args);
        EXPECT_EQ(run.status, ExitSuccess);
        EXPECT_NE(run.out.find("tolvane-cli download integrated IMAGE"), std::string::npos);
        // The record as README describes it, not the JSON lines of Tolvane before 3.7.
        EXPECT_NE(run.out.find("an SQLite file"), std::string::npos);
        EXPECT_NE(run.out.find("PostgreSQL connection string or URL"), std::string::npos);
        EXPECT_EQ(run.out.find("JSON lines to FILE"), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
}

TEST(Help, NoArgumentsIsAUsageErrorWithAShortUsage)
{
    const auto run = test::runTolvaneCli({});
    EXPECT_EQ(run.status, ExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err,
                ::testing::StartsWith("tolvane-cli: no command given\nUsage: tolvane-cli "));
    EXPECT_THAT(run.err, HasSubstr("download app|integrated|ptz|data"));
    EXPECT_THAT(run.err, HasSubstr("'tolvane-cli --help'"));
    EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 6) << run.err;
}

struct CommandHelpCase {
    Args args;
    std::string synopsis; // the usage line's start
    const char* option;   // an option the command takes
    const char* foreign;  // one it does not
};

class CommandHelp : public ::testing::TestWithParam<CommandHelpCase> {};

// Each command's --help is its own: its usage line and its options, not the full text.
TEST_P(CommandHelp, PrintsTheCommandsOwnSynopsisAndOptions)
{
    const auto& c = GetParam();
    const auto run = test::runTolvaneCli(c.args);
    EXPECT_EQ(run.status, ExitSuccess);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, ::testing::StartsWith("Usage:\n  tolvane-cli " + c.synopsis));
    EXPECT_THAT(run.out, HasSubstr("\n  " + std::string(c.option) + " "));
    EXPECT_THAT(run.out, Not(HasSubstr("\n  " + std::string(c.foreign) + " ")));
    EXPECT_THAT(run.out, Not(HasSubstr("Exit status"))) << "the full text";
}

// clang-format off
using Case = CommandHelpCase;
INSTANTIATE_TEST_SUITE_P(Table, CommandHelp, ::testing::Values(
    Case{{"download", "app", "--help"}, "download app IMAGE --target", "--json", "--mac"},
    Case{{"download", "integrated", "-h"}, "download integrated IMAGE", "--mac", "--format"},
    Case{{"download", "ptz", "--help"}, "download ptz FILE --target", "--record", "--serial"},
    Case{{"download", "data", "--quiet", "-h"}, "download data --target", "--mac", "--into"},
    Case{{"version", "--help"}, "version IMAGE", "--app-only", "--target"},
    Case{{"inspect", "--help"}, "inspect IMAGE\n", "--help", "--app-only"},
    Case{{"ptz", "show", "--help"}, "ptz show FILE\n", "--help", "--output"},
    Case{{"ptz", "verify", "--help"}, "ptz verify FILE\n", "--help", "--output"},
    Case{{"ptz", "build", "--help"}, "ptz build DB.pdb NUMBER...", "--output", "--target"},
    Case{{"record", "show", "--help"}, "record show RECORD", "--since", "--reason"},
    Case{{"record", "export", "--help"}, "record export RECORD", "--format jsonl|csv", "--since"},
    Case{{"record", "import", "--help"}, "record import FILE.jsonl", "--into", "--format"},
    Case{{"record", "units", "--help"}, "record units RECORD", "--format table|csv|jsonl", "--mac"},
    Case{{"record", "release", "--help"}, "record release RECORD MAC", "--reason", "--since"},
    Case{{"record", "--help"}, "record show", "--into", "--target"}));
// clang-format on

TEST(Version, PrintsTheProgramsVersionOnStdoutAndSucceeds)
{
    const auto run = test::runTolvaneCli({"--version"});
    EXPECT_EQ(run.status, ExitSuccess);
    EXPECT_TRUE(std::regex_match(run.out, std::regex("tolvane-cli [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(ParseArguments, CarriesCheckedValues)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("targets"));
        file << "127.0.0.1:7002\n# spare\n127.0.0.1:7003\n";
    }
    const auto parsed =
        parseArguments({"download", "integrated", "img.bin", "--target=127.0.0.1:7001", "--targets",
                        dir.file("targets"), "--mac", "00a0ff12bc3d", "--serial=4294967295",
                        "--auto-increase", "--jobs", "2", "--record", "rec.jsonl", "--quiet",
                        "--allow-reused-mac", "--skip-used-macs"});
    ASSERT_TRUE(parsed.command) << parsed.error;
    const CliCommand& command = *parsed.command;
    EXPECT_EQ(command.kind, CommandKind::Download);
    EXPECT_EQ(command.downloadType, DownloadType::IntegratedImage);
    EXPECT_EQ(command.file, "img.bin");
    ASSERT_EQ(command.targets.size(), 3u);
    EXPECT_EQ(command.targets[0].port, 7001);
    EXPECT_EQ(command.targets[2].port, 7003);
    EXPECT_EQ(command.mac, "00A0FF12BC3D");
    EXPECT_EQ(command.serial, 4294967295u);
    EXPECT_EQ(command.jobs, 2);
    EXPECT_EQ(command.recordPath, "rec.jsonl");
    EXPECT_TRUE(command.quiet && command.autoIncrease && command.allowReusedMac &&
                command.skipUsedMacs);

    const auto build =
        parseArguments({"ptz", "build", "db.pdb", "7", "-3", "0", "--output", "o.bin"});
    ASSERT_TRUE(build.command) << build.error;
    EXPECT_EQ(build.command->protocolNumbers, (std::vector<std::int32_t>{7, -3, 0}));

    const auto defaults = parseArguments({"download", "ptz", "p.bin", "--target", "127.0.0.1"});
    ASSERT_TRUE(defaults.command);
    EXPECT_EQ(defaults.command->jobs, DefaultJobs);
    EXPECT_EQ(defaults.command->targets[0].port, 5000);

    const auto ended = parseArguments({"version", "--", "--odd.bin"});
    ASSERT_TRUE(ended.command) << ended.error;
    EXPECT_EQ(ended.command->file, "--odd.bin");
}

struct TwiceCase {
    Args args;         // {a} and {b} are targets files
    std::string error; // {a} and {b} are their paths
};

void PrintTo(const TwiceCase& c, std::ostream* out)
{
    *out << c.error;
}

class TargetsGivenTwice : public ::testing::TestWithParam<TwiceCase> {
protected:
    std::string filled(std::string text) const
    {
        for (const auto& [token, path] : {std::pair{"{a}", m_a}, std::pair{"{b}", m_b}}) {
            for (auto at = text.find(token); at != std::string::npos; at = text.find(token))
                text.replace(at, 3, path);
        }
        return text;
    }

    test::TempDir m_dir;
    std::string m_a = m_dir.file("a.txt");
    std::string m_b = m_dir.file("b.txt");
};

// A target given twice names where each came from: the file and line, or --target.
TEST_P(TargetsGivenTwice, AreNamedWhereTheyWereGiven)
{
    std::ofstream(m_a) << "127.0.0.1\n# spare\n127.0.0.2:6000\n127.0.0.1:5000\n";
    std::ofstream(m_b) << "\n127.0.0.3\n127.0.0.2:6000\n";
    Args args = {"download", "app", "x.bin"};
    for (const std::string& arg : GetParam().args)
        args.push_back(filled(arg));
    const auto parsed = parseArguments(args);
    EXPECT_FALSE(parsed.command);
    EXPECT_EQ(parsed.error, filled(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetsGivenTwice,
    ::testing::Values(TwiceCase{{"--targets", "{a}"},
                                "{a}:4: target 127.0.0.1:5000 given twice (first at {a}:1)"},
                      TwiceCase{{"--target", "127.0.0.3", "--targets", "{b}"},
                                "{b}:2: target 127.0.0.3:5000 given twice (first by --target)"},
                      TwiceCase{{"--targets", "{b}", "--target", "127.0.0.3:5000"},
                                "target 127.0.0.3:5000 given twice (first at {b}:2)"},
                      TwiceCase{{"--targets", "{b}", "--targets", "{a}"},
                                "{a}:3: target 127.0.0.2:6000 given twice (first at {b}:3)"},
                      TwiceCase{{"--target", "127.0.0.1", "--target", "127.0.0.1:5000"},
                                "target 127.0.0.1:5000 given twice"}));

struct RecordForm {
    Args args;
    CommandKind kind;
    std::string record;
    std::string file;
    std::optional<std::string> mac = std::nullopt;
    std::optional<std::string> since = std::nullopt;
    RecordFormat format = RecordFormat::Jsonl;
};

class RecordForms : public ::testing::TestWithParam<RecordForm> {};

TEST_P(RecordForms, CarryTheirValues)
{
    const RecordForm& form = GetParam();
    const auto parsed = parseArguments(form.args);
    ASSERT_TRUE(parsed.command) << parsed.error;
    EXPECT_EQ(parsed.command->kind, form.kind);
    EXPECT_EQ(parsed.command->recordPath, form.record);
    EXPECT_EQ(parsed.command->file, form.file);
    EXPECT_EQ(parsed.command->mac, form.mac);
    EXPECT_EQ(parsed.command->since, form.since);
    EXPECT_EQ(parsed.command->recordFormat, form.format);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordForms,
    ::testing::Values(
        RecordForm{{"record", "show", "r.jsonl"}, CommandKind::RecordShow, "r.jsonl", ""},
        RecordForm{{"record", "show", "postgresql://maker@db/units", "--mac", "00a0ff12bc3d",
                    "--since", "2024-02-29"},
                   CommandKind::RecordShow,
                   "postgresql://maker@db/units",
                   "",
                   "00A0FF12BC3D",
                   "2024-02-29T00:00:00.000Z"},
        RecordForm{{"record", "show", "r.jsonl", "--since=2000-12-31T23:59:59Z"},
                   CommandKind::RecordShow,
                   "r.jsonl",
                   "",
                   std::nullopt,
                   "2000-12-31T23:59:59.000Z"},
        RecordForm{{"record", "export", "r.jsonl", "--format", "csv"},
                   CommandKind::RecordExport,
                   "r.jsonl",
                   "",
                   std::nullopt,
                   std::nullopt,
                   RecordFormat::Csv},
        RecordForm{{"record", "export", "r.jsonl", "--format=jsonl"},
                   CommandKind::RecordExport,
                   "r.jsonl",
                   ""},
        RecordForm{{"record", "import", "new.jsonl", "--into", "r.jsonl"},
                   CommandKind::RecordImport,
                   "r.jsonl",
                   "new.jsonl"}));

} // namespace
} // namespace tolvane::cli
