// The report's figures over a small record whose counts are worked out by hand below.

#include "report_figures_test_rows.h"

namespace tolvane::record_test {
namespace {

// One line of text per item.
template <typename Items, typename Line> std::string joined(const Items& items, Line line)
{
    std::string text;
    for (const auto& item : items)
        text += line(item);
    return text;
}

struct ReportFiguresTest : StoreFixture {};

TEST_P(ReportFiguresTest, CountsThePeriodAsWorkedOutByHand)
{
    auto record = open();
    ASSERT_TRUE(record);
    ASSERT_TRUE(record->importRows(reportRows())) << "rows of the test record";
    const auto figures = record->reportFigures(reportPeriod());
    ASSERT_TRUE(figures) << failureText(figures);

    // u1..u8 fall in the period; u0 (05:50) and u9 (08:30) do not.
    const auto& t = figures->totals;
    EXPECT_EQ(std::vector<std::int64_t>({8, 3, 1, 1, 1, 1, 1}),
              std::vector<std::int64_t>(
                  {t.units, t.ok, t.failed, t.unconfirmed, t.refused, t.released, t.pending}));
    // Devices sent something: ...01, ...02, ...03 (u3 then u4), ...05, ...06; first unit ok: 01,
    // 02.
    EXPECT_EQ(5, figures->firstPassDevices);
    EXPECT_EQ(2, figures->firstPassOk);

    const std::string hours = joined(figures->hours, [](const auto& h) {
        return h.hour + " " + h.state + " " + std::to_string(h.units) + "\n";
    });
    EXPECT_EQ("2026-12-08T06 failed 1\n2026-12-08T06 ok 3\n2026-12-08T07 pending 1\n"
              "2026-12-08T07 refused 1\n2026-12-08T07 released 1\n2026-12-08T07 unconfirmed 1\n",
              hours);

    ASSERT_EQ(2u, figures->failures.size()); // u6's failure was released
    EXPECT_EQ("Can't connect", figures->failures[0].message);
    EXPECT_EQ("No acknowledgement", figures->failures[1].message);

    // A: u1 30, u2 40, u3 5, u6 70 sent, u7 refused: median (30 + 40) / 2. B: u4 50, u5 60, u8
    // pending: median (50 + 60) / 2.
    ASSERT_EQ(2u, figures->benches.size());
    EXPECT_EQ("A 5 2 35", figures->benches[0].name + " " +
                              std::to_string(figures->benches[0].units) + " " +
                              std::to_string(figures->benches[0].ok) + " " +
                              std::to_string(int(*figures->benches[0].medianSeconds)));
    EXPECT_EQ("B 3 1 55", figures->benches[1].name + " " +
                              std::to_string(figures->benches[1].units) + " " +
                              std::to_string(figures->benches[1].ok) + " " +
                              std::to_string(int(*figures->benches[1].medianSeconds)));

    ASSERT_EQ(2u, figures->images.size());
    EXPECT_EQ("3.5.1", figures->images[0].version.value_or(""));
    EXPECT_EQ(2, figures->images[0].units);
    EXPECT_EQ(std::string(64, 'b'), figures->images[1].sha256.value_or(""));

    // MACs handed out: 01 02 03 05 06 08 (u7 was refused 02, u9 is outside).
    const std::string ranges = joined(figures->macRanges, [](const auto& r) {
        return r.first + "-" + r.last + ":" + std::to_string(r.count) + " ";
    });
    EXPECT_EQ("0012AB000001-0012AB000003:3 0012AB000005-0012AB000006:2 "
              "0012AB000008-0012AB000008:1 ",
              ranges);
    EXPECT_EQ(3, figures->macRangeCount);
    ASSERT_EQ(2u, figures->macGaps.size());
    EXPECT_EQ("0012AB000004", figures->macGaps[0].first);
    EXPECT_EQ("0012AB000007", figures->macGaps[1].last);

    ASSERT_EQ(1u, figures->held.size()); // u6's was released
    EXPECT_EQ("0012AB000005 u5", figures->held[0].mac + " " + figures->held[0].unit);
    EXPECT_EQ(1, figures->heldCount);
}

TEST_P(ReportFiguresTest, AnEmptyPeriodCountsNothing)
{
    auto record = open();
    ASSERT_TRUE(record);
    ASSERT_TRUE(record->importRows(reportRows()));
    ReportPeriod later;
    later.since = reportPeriod().until.value() + std::chrono::hours(24);
    const auto figures = record->reportFigures(later);
    ASSERT_TRUE(figures) << failureText(figures);
    EXPECT_EQ(0, figures->totals.units);
    EXPECT_TRUE(figures->hours.empty() && figures->benches.empty() && figures->macRanges.empty());
}

TEST_P(ReportFiguresTest, ListsStopAtTheirLimitWhileTheCountsGoOn)
{
    // Unconfirmed units holding the even MACs 0 to 2004 (0x7D4), written from the highest down,
    // and units that succeeded with 1999 (0x7CF, joining 1998 and 2000) and 2005 (joining 2004):
    // 1002 runs, of which the 1000th is 0x7CE-0x7D0; 1003 MACs held, the lowest 1000 listed.
    auto record = open();
    ASSERT_TRUE(record);
    std::vector<RecordEntry> rows;
    const auto mac = [](int number) {
        char text[13];
        std::snprintf(text, sizeof text, "%012X", number);
        return std::string(text);
    };
    for (int k = 1002; k >= 0; --k)
        rows.push_back(reportRow(("h" + std::to_string(k)).c_str(), mac(2 * k).c_str(),
                                 "unconfirmed", 5, "A", 10));
    rows.push_back(reportRow("j1", "0000000007CF", "ok", 5, "A", 10));
    rows.push_back(reportRow("j2", "0000000007D5", "ok", 5, "A", 10));
    // Bench C: 20.1 s and 20.25 s, a half tenth rounded up to 20.3; the median halfway, 20.2.
    rows.push_back(reportRow("j3", "0000000007D6", "ok", 5, "C", 20.25));
    rows.push_back(reportRow("j4", "0000000007D7", "ok", 5, "C", 20.1));
    // Unit k1, with neither MAC nor serial, failed and then succeeded: one device, not first pass.
    for (const char* result : {"failed", "ok"}) {
        rows.push_back(unitRow("k1", std::nullopt, result));
        rows.back().bench = "A";
    }
    ASSERT_TRUE(record->importRows(rows));
    const auto figures = record->reportFigures(reportPeriod());
    ASSERT_TRUE(figures) << failureText(figures);

    EXPECT_EQ(1003 + 4 + 1, figures->firstPassDevices);
    EXPECT_EQ(4, figures->firstPassOk);
    EXPECT_EQ(1002, figures->macRangeCount);
    ASSERT_EQ(1000u, figures->macRanges.size());
    const auto& last = figures->macRanges.back();
    EXPECT_EQ("0000000007CE 0000000007D0 3",
              last.first + " " + last.last + " " + std::to_string(last.count));
    ASSERT_EQ(2u, figures->benches.size());
    EXPECT_EQ(20.2, figures->benches[1].medianSeconds.value_or(0));
    EXPECT_EQ(1003, figures->heldCount);
    ASSERT_EQ(1000u, figures->held.size());
    EXPECT_EQ("000000000000 0000000007CE",
              figures->held.front().mac + " " + figures->held.back().mac);
}

INSTANTIATE_TEST_SUITE_P(Store, ReportFiguresTest, Stores,
                         [](const auto& testCase) { return storeName(testCase.param); });

} // namespace
} // namespace tolvane::record_test
