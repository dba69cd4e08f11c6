// The units of a production record in the production window's tab: filter, release, charts.

#include "gui/units/units_view.h"
#include "record/production_record.h"
#include "record_rows.h"
#include "scripted_prompter.h"
#include "support/temp_dir.h"

#include <QBarSet>
#include <QChartView>
#include <QCheckBox>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedBarSeries>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace std::chrono;

struct UnitsViewTest : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.file("units.db");
    test::ScriptedPrompter prompter;
    UnitsView view{prompter};
    sys_days today = floor<days>(system_clock::now());

    void addUnit(const char* unit, std::optional<std::string> mac, std::uint32_t serial, minutes at,
                 const char* result, const char* message = "")
    {
        record::RecordEntry row;
        row.time = today + at;
        row.target = "127.0.0.1:5000";
        row.type = "data";
        std::tie(row.mac, row.serial, row.unit, row.result) =
            std::tuple(mac, serial, unit, "pending");
        record::RecordEntry outcome = row;
        outcome.time += 1min;
        outcome.result = result;
        outcome.message = message;
        ASSERT_TRUE(record::openProductionRecord(path).value()->importRows({row, outcome}));
    }
    void SetUp() override
    {
        addUnit("u4", "0012AB000103", 205, -3 * 24h + 10h, "ok");
        addUnit("u1", "0012AB000001", 100, 8h + 4min, "ok");
        addUnit("u2", "0012AB000002", 101, 9h + 9min, "unconfirmed", "No answer");
        addUnit("u3", "0012AB000003", 102, 9h + 19min, "failed", "Can't connect");
        addUnit("u5", std::nullopt, 300, 11h, "pending");
        view.setRecordLocation(QString::fromStdString(path));
        refreshed([this] { view.refresh(); });
    }
    void refreshed(const std::function<void()>& action)
    {
        QSignalSpy read(&view, &UnitsView::refreshed);
        action();
        ASSERT_TRUE(read.wait(10'000));
    }
    template <typename Widget> Widget* named(const QString& name)
    {
        for (Widget* widget : view.findChildren<Widget*>())
            if (widget->accessibleName() == name)
                return widget;
        ADD_FAILURE() << "no " << name.toStdString();
        return nullptr;
    }
    QStringList column(int index)
    {
        QStringList cells;
        auto* table = named<QTableWidget>(QStringLiteral("Units"));
        for (int row = 0; row < table->rowCount(); ++row)
            cells << table->item(row, index)->text();
        return cells;
    }
    void select(const QString& mac)
    {
        named<QTableWidget>(QStringLiteral("Units"))->selectRow(column(0).indexOf(mac));
    }
};

TEST_F(UnitsViewTest, ReleasesTheSelectedUnconfirmedUnit)
{
    auto* release = named<QPushButton>(QStringLiteral("Release..."));
    select(QStringLiteral("0012AB000001"));
    EXPECT_FALSE(release->isEnabled()); // ok
    select(QStringLiteral("0012AB000002"));
    ASSERT_TRUE(release->isEnabled());
    release->click(); // cancelled
    EXPECT_EQ(test::recordRows(path).size(), 10);
    prompter.texts = {QStringLiteral("checked by hand")};
    refreshed([release] { release->click(); });

    EXPECT_EQ(test::recordRows(path, "mac, result, message, unit").last(),
              "0012AB000002 released checked by hand u2");
    EXPECT_EQ(column(2)[column(0).indexOf(QStringLiteral("0012AB000002"))], "released");
    EXPECT_FALSE(release->isEnabled());
    EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.messages.join('\n').toStdString();
    if (const char* shots = getenv("TOLVANE_SCREENSHOT_DIR")) {
        view.resize(1200, 800);
        QTest::qWait(200); // the charts lay themselves out again
        view.grab().save(QString::fromUtf8(shots) + QStringLiteral("/units-view.png"));
    }
}

TEST_F(UnitsViewTest, ChartsCountTodaysUnits)
{
    QStringList results, counted; // "result@hour=units" where units are not 0
    auto* hours = named<QChartView>(QStringLiteral("Units per hour"))->chart()->series()[0];
    for (QBarSet* set : qobject_cast<QStackedBarSeries*>(hours)->barSets()) {
        results << set->label();
        for (int hour = 0; hour < 24; ++hour)
            if (set->at(hour) != 0)
                counted
                    << QStringLiteral("%1@%2=%3").arg(set->label()).arg(hour).arg(set->at(hour));
    }
    EXPECT_EQ(results, (QStringList{"ok", "failed", "unconfirmed", "refused", "pending"}));
    EXPECT_EQ(counted, (QStringList{"ok@8=1", "failed@9=1", "unconfirmed@9=1", "pending@11=1"}));
    auto* failures = named<QChartView>(QStringLiteral("Failures by message"))->chart()->series()[0];
    EXPECT_EQ(qobject_cast<QHorizontalBarSeries*>(failures)->barSets()[0]->count(), 2);
    EXPECT_EQ(failures->attachedAxes()[0]->property("categories").toStringList(),
              (QStringList{"No answer", "Can't connect"}));
}

TEST_F(UnitsViewTest, FiltersByMacSerialAndDay)
{
    const struct {
        const char *mac, *serial;
        bool sinceToday;
        QStringList macs;
    } cases[] = {
        {"", "", false, {"0012AB000103", "0012AB000001", "0012AB000002", "0012AB000003", "-"}},
        {"00:12:ab:00:01", "", false, {"0012AB000103"}},
        {"", "10", false, {"0012AB000001", "0012AB000002", "0012AB000003"}},
        {"", "", true, {"0012AB000001", "0012AB000002", "0012AB000003", "-"}},
        {"", "3", true, {"-"}},
    };
    for (const auto& filter : cases) {
        named<QLineEdit>(QStringLiteral("MAC"))->setText(QString::fromUtf8(filter.mac));
        named<QLineEdit>(QStringLiteral("Serial"))->setText(QString::fromUtf8(filter.serial));
        named<QCheckBox>(QStringLiteral("Since (UTC)"))->setChecked(filter.sinceToday);
        refreshed([this] { view.refresh(); });
        EXPECT_EQ(column(0), filter.macs) << filter.mac << " " << filter.serial;
    }
}

TEST_F(UnitsViewTest, TellsWhyARecordCannotBeRead)
{
    view.setRecordLocation(QString::fromStdString(dir.file("missing.db")));
    refreshed([this] { view.refresh(); });
    EXPECT_EQ(column(0), QStringList());
    EXPECT_TRUE(
        named<QLabel>(QStringLiteral("Status"))->text().startsWith("Cannot read the record: "));
    EXPECT_TRUE(prompter.messages.isEmpty());
}

} // namespace
} // namespace tolvane
