// The main window with a production record: each MAC address goes out once.

#include "record/production_record.h"
#include "upgrade_window_fixture.h"

#include <QCryptographicHash>
#include <QFile>
#include <sqlite3.h>

namespace tolvane::upgrade_window_test {
namespace {

// The record's rows as "MAC result" (or the columns asked for), read the way any SQLite client
// would.
QStringList recordRows(const std::string& path, const char* columns = "coalesce(mac, '-'), result")
{
    QStringList rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        const std::string select = std::string("SELECT ") + columns + " FROM units ORDER BY id";
        sqlite3_prepare_v2(db, select.c_str(), -1, &query, nullptr);
        while (query && sqlite3_step(query) == SQLITE_ROW) {
            QStringList fields;
            for (int column = 0; column < sqlite3_column_count(query); ++column)
                fields << reinterpret_cast<const char*>(sqlite3_column_text(query, column));
            rows << fields.join(' ');
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return rows;
}

TEST_F(UpgradeWindowTest, RecordedBenchSendsEachMacOnce)
{
    const std::string path = m_dir.file("units.db");
    const auto record = record::openProductionRecord(path);
    ASSERT_TRUE(record) << record.failure().text();
    m_window->setProductionRecord(record->get());
    EXPECT_TRUE(radio(static_cast<int>(DownloadType::IndividualData))->isEnabled());

    pointAtSimulator();
    radio(static_cast<int>(DownloadType::IndividualData))->click();
    box("autoIncreaseBox")->setChecked(false);
    edit("macEdit")->setText(QStringLiteral("0012ab000001"));
    edit("serialEdit")->setText(QStringLiteral("7"));
    pressDownload();
    ASSERT_TRUE(m_sim->waitForTransfers(1, 5s));
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join('\n').toStdString();
    EXPECT_EQ(recordRows(path), (QStringList{"0012AB000001 pending", "0012AB000001 ok"}));

    // The same unit identity again: refused before anything is sent.
    pressDownload();
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_EQ(m_prompter.messages[0],
              QStringLiteral("This MAC address is already used. It was not sent to the DVR."));
    EXPECT_TRUE(m_prompter.details[0].contains(QStringLiteral("0012AB000001")));
    EXPECT_EQ(m_prompter.severities[0], Prompter::Severity::Warning);
    EXPECT_FALSE(m_sim->waitForTransfers(2, 200ms));
    EXPECT_EQ(recordRows(path),
              (QStringList{"0012AB000001 pending", "0012AB000001 ok", "0012AB000001 refused"}));
}

TEST_F(UpgradeWindowTest, RecordedImageCarriesItsFileAndDigest)
{
    const std::string path = m_dir.file("units.db");
    const auto record = record::openProductionRecord(path);
    ASSERT_TRUE(record) << record.failure().text();
    m_window->setProductionRecord(record->get());
    const std::string image = writeApplicationImage();
    QFile file(QString::fromStdString(image));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString digest =
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();

    m_prompter.openFiles = {QString::fromStdString(image)};
    pointAtSimulator();
    child<QPushButton>("browseButton")->click();
    pressDownload();
    ASSERT_TRUE(m_sim->waitForTransfers(2, 5s));
    EXPECT_EQ(
        recordRows(path, "type, file, sha256, result"),
        QStringList{QStringLiteral("app %1 %2 ok").arg(QString::fromStdString(image), digest)});
}

TEST_F(UpgradeWindowTest, UnconfirmedUnitKeepsItsMacAndTheFieldAdvances)
{
    const std::string path = m_dir.file("units.db");
    const auto record = record::openProductionRecord(path);
    ASSERT_TRUE(record) << record.failure().text();
    m_window->setProductionRecord(record->get());
    m_sim = std::make_unique<sim::Simulator>(test::loopbackOptions(sim::Fault::ResetAfterPayload));
    ASSERT_TRUE(test::startSimulator(*m_sim));

    pointAtSimulator();
    radio(static_cast<int>(DownloadType::IndividualData))->click();
    box("autoIncreaseBox")->setChecked(true);
    edit("macEdit")->setText(QStringLiteral("12345"));
    pressDownload();
    EXPECT_TRUE(recordRows(path).isEmpty());

    m_prompter.messages.clear();
    edit("macEdit")->setText(QStringLiteral("0012ab000001"));
    pressDownload();
    ASSERT_FALSE(m_prompter.messages.isEmpty());
    EXPECT_EQ(m_prompter.messages.back(),
              QStringLiteral("The DVR did not confirm the download, but it may have taken the MAC "
                             "address. The MAC address stays held in the production record."));
    EXPECT_TRUE(m_prompter.details.back().contains(QStringLiteral("MAC address 0012AB000001")));
    EXPECT_EQ(edit("macEdit")->text(), QStringLiteral("0012AB000002"));
    EXPECT_EQ(recordRows(path), (QStringList{"0012AB000001 pending", "0012AB000001 unconfirmed"}));
}

} // namespace
} // namespace tolvane::upgrade_window_test
