// record report: the page opened in headless Chromium with no network, its totals read back from
// the rendered page; the JSON; and what is told before the record is read.

#include "cli_test_support.h"
#include "record/report_figures_test_rows.h"
#include "support/file_io.h"

#include <QImage>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

namespace tolvane::test {
namespace {

using record_test::reportRows;
using namespace tolvane::cli;

constexpr const char* Chromium = "/usr/bin/chromium";

std::string fileText(const std::string& path)
{
    const auto bytes = readFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// The record of the test rows, and the command's period around u1..u8.
struct RecordReport : ::testing::Test {
    TempDir dir;
    std::string location = dir.file("units.db");
    std::vector<std::string> period = {"--since", "2026-12-08T06:00:00", "--until",
                                       "2026-12-08T08:00:00Z"};

    void SetUp() override
    {
        auto record = record::openProductionRecord(location);
        ASSERT_TRUE(record) << record.failure().text();
        ASSERT_TRUE((*record)->importRows(reportRows()));
    }

    CliRun report(std::vector<std::string> options)
    {
        std::vector<std::string> args = {"record", "report", location};
        args.insert(args.end(), period.begin(), period.end());
        args.insert(args.end(), options.begin(), options.end());
        return runTolvaneCli(args);
    }

    // Chromium with no network at all: a network namespace of its own, no proxy that answers and
    // no name that resolves. Its standard output.
    std::string chromium(const std::string& options, const std::string& page)
    {
        const std::string command = "unshare --net --map-root-user " + std::string(Chromium) +
                                    " --headless --no-sandbox --disable-gpu --no-first-run"
                                    " --proxy-server=127.0.0.1:9 --host-resolver-rules='MAP * "
                                    "~NOTFOUND' --virtual-time-budget=10000 --user-data-dir=" +
                                    dir.file("profile") + " " + options + " file://" + page +
                                    " 2>" + dir.file("chromium.log");
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char block[65536];
            for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;)
                out.append(block, got);
            EXPECT_EQ(0, ::pclose(pipe)) << command << "\n" << fileText(dir.file("chromium.log"));
        }
        return out;
    }
};

// The text of the element with that id in the rendered page.
std::string elementText(const std::string& dom, const std::string& id)
{
    std::smatch found;
    const std::regex element("id=\"" + id + "\"[^>]*>([^<]*)<");
    return std::regex_search(dom, found, element) ? found[1].str() : "(no #" + id + ")";
}

TEST_F(RecordReport, ThePageRendersInChromiumWithTheTotalsOfTheRecord)
{
    ASSERT_TRUE(std::filesystem::exists(Chromium))
        << Chromium << " is missing: scripts/install-deps installs chromium";
    const std::string page = dir.file("shift.html");
    const auto run = report({"--html", page});
    ASSERT_EQ(ExitSuccess, run.status) << run.err;
    EXPECT_EQ("Wrote the report of 8 units to " + page + ".\n", run.out);

    const std::string dom = chromium("--dump-dom", page);
    EXPECT_THAT(dom, ::testing::HasSubstr("<body data-rendered=\"true\""));
    // Worked out by hand in report_figures_test_rows.h: u1..u8.
    for (const auto& [id, value] :
         std::vector<std::pair<std::string, std::string>>{{"total-units", "8"},
                                                          {"total-ok", "3"},
                                                          {"total-failed", "1"},
                                                          {"total-unconfirmed", "1"},
                                                          {"total-refused", "1"},
                                                          {"total-released", "1"},
                                                          {"total-pending", "1"},
                                                          {"first-pass-yield", "40.0 %"}})
        EXPECT_EQ(value, elementText(dom, id)) << id;
    EXPECT_EQ(location, elementText(dom, "record-location"));

    const std::string shot = dir.file("shift.png");
    chromium("--window-size=1000,1400 --screenshot=" + shot, page);
    const QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull()) << "no screenshot at " << shot;
    std::set<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 3; y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    EXPECT_GE(colours.size(), 3u) << "the screenshot is blank";
}

TEST_F(RecordReport, JsonCarriesTheSameTotals)
{
    const auto run = report({"--format", "json"});
    ASSERT_EQ(ExitSuccess, run.status) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(std::vector<int>({8, 3, 1, 1, 1, 1}),
              std::vector<int>({json["units"], json["ok"], json["failed"], json["unconfirmed"],
                                json["refused"], json["released"]}));
    EXPECT_EQ("2026-12-08T08:00:00.000Z", json["until"]);
}

TEST_F(RecordReport, AnEmptyPeriodSaysSoAndABadOutputIsToldBeforeTheRecordIsRead)
{
    period = {"--since", "2027-01-01"};
    const std::string page = dir.file("empty.html");
    ASSERT_EQ(ExitSuccess, report({"--html", page}).status);
    EXPECT_THAT(fileText(page), ::testing::HasSubstr("No units were recorded in this period."));

    location = dir.file("no-such-record.db");
    const auto unwritable = report({"--html", dir.file("no-such-folder/shift.html")});
    EXPECT_EQ(ExitFailure, unwritable.status);
    EXPECT_THAT(unwritable.err, ::testing::HasSubstr("No such file or directory"));
    EXPECT_THAT(unwritable.err, ::testing::HasSubstr("no-such-folder"));
    EXPECT_THAT(unwritable.err, ::testing::Not(::testing::HasSubstr("no-such-record")));

    const auto both = report({"--html", page, "--format", "json"});
    EXPECT_EQ(ExitUsage, both.status);
    EXPECT_THAT(both.err, ::testing::HasSubstr("--html FILE or --format json, not both"));
}

} // namespace
} // namespace tolvane::test
