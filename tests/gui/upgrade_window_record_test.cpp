// The main window with a production record: each MAC address goes out once.

#include "record/production_record.h"
#include "record_rows.h"
#include "upgrade_window_fixture.h"

#include <QCryptographicHash>
#include <QFile>

namespace tolvane::upgrade_window_test {
namespace {

using test::recordRows;

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
