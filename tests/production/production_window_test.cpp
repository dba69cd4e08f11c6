// The production window driven as an operator would, offscreen, with scripted dialogs: its rows
// are checked against the bytes each simulator received and the rows SQLite reads back.
#include "gui/production/production_download_tab.h"
#include "gui/production/production_window.h"
#include "gui/scripted_prompter.h"
#include "support/deadlines.h"
#include "support/file_io.h"
#include "support/loopback_simulator.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <set>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// The MAC address in an identity payload as the recorder got it: bytes 1-3 and 5-7.
std::string macReceived(const sim::Simulator& recorder)
{
    if (!recorder.waitForTransfers(1, 2s))
        return "none";
    const auto bytes = recorder.transfers().front().payload;
    std::string hex;
    for (const std::size_t i : {1, 2, 3, 5, 6, 7})
        hex += QByteArray(1, static_cast<char>(bytes.at(i))).toHex().toUpper().toStdString();
    return hex;
}

// The record's outcome rows (not the pending ones) as "MAC result", and each one's message by MAC.
std::multiset<std::string> recordRows(const std::string& path,
                                      std::map<std::string, std::string>* messages = nullptr)
{
    std::multiset<std::string> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT mac, result, coalesce(message, '') FROM units WHERE result != 'pending'", -1,
        &query, nullptr);
    while (query && sqlite3_step(query) == SQLITE_ROW) {
        const std::string mac = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
        rows.insert(mac + " " + reinterpret_cast<const char*>(sqlite3_column_text(query, 1)));
        if (messages)
            (*messages)[mac] = reinterpret_cast<const char*>(sqlite3_column_text(query, 2));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

class ProductionWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.file("settings")));
        m_window = std::make_unique<ProductionWindow>(m_prompter);
        m_window->downloadTab().setDeadlines(test::simulatorDeadlines());
        m_window->show();
        child<QComboBox>("downloadTypeList")->setCurrentText(QStringLiteral("Individual Data"));
        child<QLineEdit>("firstMacEdit")->setText(QStringLiteral("0012ab000100"));
        child<QLineEdit>("recordEdit")->setText(QString::fromStdString(m_record));
        child<QSpinBox>("jobsSpin")->setValue(1);
    }

    template <typename Widget> Widget* child(const char* name) const
    {
        auto* widget = m_window->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    sim::Simulator& simulator(sim::SimulatorOptions options = test::loopbackOptions())
    {
        m_simulators.push_back(std::make_unique<sim::Simulator>(options));
        EXPECT_TRUE(test::startSimulator(*m_simulators.back()));
        return *m_simulators.back();
    }
    void loadTargets(const std::string& text)
    {
        std::ofstream(m_dir.file("targets.txt")) << text;
        m_prompter.openFiles.push_back(QString::fromStdString(m_dir.file("targets.txt")));
        child<QPushButton>("loadTargetsButton")->click();
    }
    // Presses the button and waits for the run it starts to end.
    void runWith(const char* button)
    {
        QSignalSpy ended(&m_window->downloadTab(), &ProductionDownloadTab::runEnded);
        child<QPushButton>(button)->click();
        ASSERT_TRUE(ended.wait(30'000));
    }
    QString cell(int row, int column) const
    {
        const auto* model = child<QTableView>("recordersTable")->model();
        return model->index(row, column).data().toString();
    }
    QString summary() const { return child<QLabel>("summaryLine")->text(); }

    test::TempDir m_dir;
    std::string m_record = m_dir.file("units.db");
    test::ScriptedPrompter m_prompter;
    std::vector<std::unique_ptr<sim::Simulator>> m_simulators;
    std::unique_ptr<ProductionWindow> m_window;
};

enum Column { Target, Progress, Result, Mac, Serial, Message };

TEST_F(ProductionWindowTest, BatchWithADeadTargetThenRetryFailedWithTheSameMac)
{
    auto& first = simulator();
    auto& third = simulator();
    std::uint16_t deadPort = 0;
    {
        sim::Simulator gone(test::loopbackOptions());
        ASSERT_TRUE(test::startSimulator(gone));
        deadPort = gone.port();
    }
    loadTargets(first.address() + "\n# the dead one\n127.0.0.1:" + std::to_string(deadPort) + "\n" +
                third.address() + "\n");
    QSignalSpy unitsEnded(m_window.get(), &ProductionWindow::unitEnded);
    runWith("startButton");

    EXPECT_EQ(unitsEnded.size(), 3);
    EXPECT_EQ(cell(0, Result), "ok");
    EXPECT_EQ(cell(1, Result), "failed");
    EXPECT_EQ(cell(2, Result), "ok");
    EXPECT_EQ(cell(0, Mac).toStdString(), macReceived(first));
    EXPECT_EQ(cell(0, Mac), "0012AB000100");
    EXPECT_EQ(cell(1, Mac), "0012AB000101");
    EXPECT_EQ(cell(2, Mac).toStdString(), macReceived(third));
    EXPECT_EQ(cell(2, Mac), "0012AB000102");
    std::map<std::string, std::string> messages;
    EXPECT_EQ(
        recordRows(m_record, &messages),
        (std::multiset<std::string>{"0012AB000100 ok", "0012AB000101 failed", "0012AB000102 ok"}));
    EXPECT_FALSE(cell(1, Message).isEmpty());
    EXPECT_EQ(cell(1, Message).toStdString(), messages["0012AB000101"]);
    EXPECT_EQ(summary(), "2 ok, 1 failed, 0 unconfirmed. Next MAC: 0012AB000103, next S/N: -");

    // The dead recorder comes back; only its unit runs again, with the address it had.
    auto options = test::loopbackOptions();
    options.port = deadPort;
    auto& revived = simulator(options);
    runWith("retryFailedButton");
    EXPECT_EQ(cell(1, Result), "ok");
    EXPECT_EQ(macReceived(revived), "0012AB000101");
    EXPECT_EQ(first.transfers().size(), 1u);
    EXPECT_EQ(third.transfers().size(), 1u);
    EXPECT_EQ(recordRows(m_record).count("0012AB000101 ok"), 1u);
    EXPECT_EQ(summary(), "3 ok, 0 failed, 0 unconfirmed. Next MAC: 0012AB000103, next S/N: -");
}

TEST_F(ProductionWindowTest, StopLetsTheRunningUnitFinishAndStartsNoOther)
{
    auto slow = test::loopbackOptions();
    slow.writeTime = 1500ms;
    auto& running = simulator(slow);
    auto& second = simulator();
    auto& third = simulator();
    loadTargets(running.address() + "\n" + second.address() + "\n" + third.address() + "\n");

    QSignalSpy ended(&m_window->downloadTab(), &ProductionDownloadTab::runEnded);
    child<QPushButton>("startButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(cell(0, Result).isEmpty(), false, 10'000);
    child<QPushButton>("stopButton")->click();
    ASSERT_TRUE(ended.wait(30'000));

    EXPECT_EQ(cell(0, Result), "ok");
    EXPECT_EQ(macReceived(running), "0012AB000100");
    EXPECT_EQ(cell(1, Result), "not started");
    EXPECT_EQ(cell(2, Result), "not started");
    EXPECT_TRUE(second.transfers().empty());
    EXPECT_TRUE(third.transfers().empty());
    EXPECT_EQ(recordRows(m_record), std::multiset<std::string>{"0012AB000100 ok"});
}

TEST_F(ProductionWindowTest, BadInputIsToldAndNothingIsSent)
{
    auto& recorder = simulator();
    loadTargets(recorder.address() + "\n10.0.0.300\n");
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_THAT(m_prompter.messages[0].toStdString(), HasSubstr("targets.txt:2:"));
    EXPECT_EQ(child<QTableView>("recordersTable")->model()->rowCount(), 0);

    m_prompter.texts.push_back(QString::fromStdString(recorder.address()));
    child<QPushButton>("addButton")->click();
    child<QLineEdit>("recordEdit")->clear();
    child<QPushButton>("startButton")->click();
    ASSERT_EQ(m_prompter.messages.size(), 2);
    EXPECT_THAT(m_prompter.messages[1].toStdString(), HasSubstr("record is needed"));

    child<QLineEdit>("recordEdit")->setText(QString::fromStdString(m_dir.file("no/such/units.db")));
    runWith("startButton");
    ASSERT_EQ(m_prompter.messages.size(), 3);
    EXPECT_THAT(m_prompter.messages[2].toStdString(), HasSubstr("No such file or directory"));
    EXPECT_FALSE(recorder.waitForTransfers(1, 300ms));
}

TEST_F(ProductionWindowTest, NextWindowOpensWithTheLastTypeTargetsAndRecord)
{
    auto& recorder = simulator();
    loadTargets(recorder.address() + "\n");
    runWith("startButton");

    ProductionWindow next(m_prompter);
    EXPECT_EQ(next.findChild<QComboBox*>("downloadTypeList")->currentText(), "Individual Data");
    EXPECT_EQ(next.recordLocation().toStdString(), m_record);
    const auto* rows = next.findChild<QTableView*>("recordersTable")->model();
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->index(0, Target).data().toString().toStdString(), recorder.address());
}

TEST_F(ProductionWindowTest, CaptionsAreAccessibleNamesAndMnemonicsDoNotClash)
{
    std::multiset<QChar> keys;
    const auto mnemonic = [&keys](const QString& caption) {
        const auto amp = caption.indexOf(QLatin1Char('&'));
        if (amp >= 0)
            keys.insert(caption.at(amp + 1).toLower());
    };
    for (const QLabel* label : m_window->findChildren<QLabel*>()) {
        if (!label->buddy())
            continue;
        mnemonic(label->text());
        EXPECT_EQ(label->buddy()->accessibleName(), QString(label->text()).remove('&'));
    }
    for (const QAbstractButton* button : m_window->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty())
            continue; // the tab bar's own scroll buttons
        mnemonic(button->text());
        EXPECT_FALSE(button->accessibleName().isEmpty()) << button->text().toStdString();
    }
    EXPECT_EQ(keys.size(), std::set<QChar>(keys.begin(), keys.end()).size());
    EXPECT_GE(keys.size(), 14u);
}

} // namespace
} // namespace tolvane
