#include "gui/modal_driver.h"
#include "gui/ptz_editor_window.h"
#include "gui/ptz_image_window.h"
#include "gui/scripted_prompter.h"
#include "gui/upgrade_window.h"
#include "sim/simulator.h"
#include "support/deadlines.h"
#include "support/firmware_image.h"
#include "support/loopback_simulator.h"
#include "support/ptz_image_bytes.h"
#include "support/temp_dir.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using test::WhenModal;
using Bytes = std::vector<std::uint8_t>;

void putLe32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (int b = 0; b < 4; ++b)
        bytes[offset + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::int32_t le32(const Bytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b)
        value = value << 8 | bytes.at(offset + static_cast<std::size_t>(b));
    return static_cast<std::int32_t>(value);
}

struct Protocol {
    std::int32_t number;
    std::string name;
    std::uint8_t firstCommandByte = 0; // command 0, byte 0: at offset 36 + 12 of the record
};

// A .pdb file written byte by byte: "PD", version 1, record size 1796, count, records.
void writeDatabase(const std::string& path, const std::vector<Protocol>& protocols)
{
    Bytes file(12 + 1796 * protocols.size());
    file[0] = 'P';
    file[1] = 'D';
    file[2] = 1;
    putLe32(file, 4, 1796);
    putLe32(file, 8, static_cast<std::uint32_t>(protocols.size()));
    for (std::size_t i = 0; i < protocols.size(); ++i) {
        const std::size_t record = 12 + 1796 * i;
        putLe32(file, record, static_cast<std::uint32_t>(protocols[i].number));
        std::copy(protocols[i].name.begin(), protocols[i].name.end(), file.begin() + record + 4);
        file[record + 48] = protocols[i].firstCommandByte;
    }
    test::writeFileBytes(path, file);
}

// The protocol numbers of a saved file: records of 1796 bytes after a header.
std::vector<std::int32_t> numbersIn(const std::string& path, std::size_t header, std::size_t count)
{
    const Bytes file = test::readFileBytes(path);
    std::vector<std::int32_t> numbers;
    for (std::size_t i = 0; i < count; ++i)
        numbers.push_back(le32(file, header + 1796 * i));
    return numbers;
}

QStringList rowTexts(const QListWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

enum class WayOut { Close, Escape, CloseBox, LoadDatabase };

class PtzImageWindowTest : public ::testing::Test {
protected:
    void leave(WayOut way)
    {
        switch (way) {
        case WayOut::Close: press("closeButton"); break;
        case WayOut::Escape: QTest::keyClick(m_window.get(), Qt::Key_Escape); break;
        case WayOut::CloseBox: m_window->close(); break;
        case WayOut::LoadDatabase: press("loadDatabaseButton"); break;
        }
    }
    void open()
    {
        m_window = std::make_unique<PtzImageWindow>(m_prompter, m_memory);
        m_window->show();
    }
    // Opens the window with the protocols loaded through "Load PTZ DB ...".
    void openWith(const std::vector<Protocol>& protocols)
    {
        writeDatabase(m_dir.file("db.pdb"), protocols);
        open();
        m_prompter.openFiles = {path("db.pdb")};
        press("loadDatabaseButton");
    }
    QString path(const char* name) const { return QString::fromStdString(m_dir.file(name)); }
    QListWidget* database() const { return list("databaseList"); }
    QListWidget* target() const { return list("targetList"); }
    QListWidget* list(const char* name) const
    {
        return m_window->findChild<QListWidget*>(QString::fromLatin1(name));
    }
    void press(const char* button) const
    {
        auto* widget = m_window->findChild<QPushButton*>(QString::fromLatin1(button));
        ASSERT_NE(widget, nullptr) << button;
        widget->click();
    }
    static void select(QListWidget* list, const QString& row)
    {
        const auto found = list->findItems(row, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << row.toStdString();
        list->setCurrentItem(found.front());
    }
    void copyToImage(const QString& row)
    {
        select(database(), row);
        press("copyToImageButton");
    }
    void pressInEditor(const char* editorButton, const char* button,
                       const std::function<void(PtzEditorWindow&)>& edit = {})
    {
        WhenModal<PtzEditorWindow> editor([&](PtzEditorWindow& window) {
            if (edit)
                edit(window);
            window.findChild<QPushButton*>(QString::fromLatin1(editorButton))->click();
        });
        press(button);
        EXPECT_TRUE(editor.acted()) << button;
    }

    test::TempDir m_dir;
    test::ScriptedPrompter m_prompter;
    PtzImageWindowMemory m_memory;
    std::unique_ptr<PtzImageWindow> m_window;
};

TEST_F(PtzImageWindowTest, AddOnAnEmptyDatabaseProposesNumberZero)
{
    open();
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("PTZ Data Image Creator"));
    EXPECT_TRUE(m_window->findChild<QCheckBox*>(QStringLiteral("useLatestImageBox"))->isChecked());
    EXPECT_EQ(database()->accessibleName(), QStringLiteral("PTZ Protocol Database"));
    EXPECT_EQ(target()->accessibleName(), QStringLiteral("Target PTZ Image"));
    EXPECT_EQ(database()->count() + target()->count(), 0);

    pressInEditor("okButton", "addButton");
    EXPECT_EQ(rowTexts(database()), QStringList{QStringLiteral("[000]New PTZ Protocol(0)")});
    EXPECT_EQ(database()->currentRow(), 0);
    pressInEditor("cancelButton", "addButton");
    EXPECT_EQ(database()->count(), 1);
    EXPECT_TRUE(database()->selectedItems().isEmpty());
}

TEST_F(PtzImageWindowTest, CopyingIntoTheImageAddsEachProtocolOnceAndAtMost36)
{
    std::vector<Protocol> protocols;
    for (int n = 37; n >= 1; --n)
        protocols.push_back({n, "P" + std::to_string(n)});
    openWith(protocols);
    ASSERT_EQ(database()->count(), 37);
    EXPECT_EQ(database()->item(0)->text(), QStringLiteral("[001]P1")); // sorted by text
    copyToImage(QStringLiteral("[005]P5"));
    copyToImage(QStringLiteral("[005]P5"));
    EXPECT_EQ(rowTexts(target()), QStringList{QStringLiteral("[005]P5")});
    for (int row = 0; row < 37; ++row) {
        database()->setCurrentRow(row);
        press("copyToImageButton");
    }
    EXPECT_EQ(target()->count(), 36);
    EXPECT_EQ(target()->item(35)->text(), QStringLiteral("[036]P36"));
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("The PTZ image is full: it holds 36 protocols. Take one "
                                         "out before adding another.")});
}

TEST_F(PtzImageWindowTest, TakingBackAsksOnlyWhenTheContentsDiffer)
{
    const QString question = QStringLiteral(
        "It's different contents on same codes. Do you want to update on previous DB ?\"");
    openWith({{1, "One"}, {2, "Two"}, {3, "Three"}});
    for (const char* row : {"[001]One", "[002]Two", "[003]Three"})
        copyToImage(QString::fromLatin1(row));
    // A different database with the same numbers: 1 identical, 2 renamed, 3 missing.
    writeDatabase(m_dir.file("other.pdb"), {{1, "One"}, {2, "Deux"}});
    m_prompter.openFiles = {path("other.pdb")};
    press("loadDatabaseButton");

    m_prompter.answers = {false};
    for (int i = 0; i < 3; ++i) {
        target()->setCurrentRow(0);
        press("takeFromImageButton");
    }
    EXPECT_EQ(m_prompter.questions, QStringList{question}); // only for number 2
    EXPECT_EQ(rowTexts(database()),
              (QStringList{QStringLiteral("[001]One"), QStringLiteral("[002]Deux"),
                           QStringLiteral("[003]Three")}));
    EXPECT_EQ(target()->count(), 0);
    m_prompter.saveFiles = {path("kept.pdb")};
    press("saveDatabaseButton");
    const Bytes kept = test::readFileBytes(m_dir.file("kept.pdb"));
    ASSERT_EQ(kept.size(), 12u + 3 * 1796);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&kept[12 + 1796 + 4])), "Deux"); // No

    copyToImage(QStringLiteral("[002]Deux"));
    writeDatabase(m_dir.file("other.pdb"), {{2, "Zwei"}});
    m_prompter.openFiles = {path("other.pdb")};
    press("loadDatabaseButton");
    m_prompter.answers = {true};
    target()->setCurrentRow(0);
    press("takeFromImageButton");
    EXPECT_EQ(rowTexts(database()), QStringList{QStringLiteral("[002]Deux")});
}

TEST_F(PtzImageWindowTest, MovingReordersTheRowsAndTheSavedImage)
{
    openWith({{1, "A"}, {2, "B"}, {3, "C"}});
    for (const char* row : {"[001]A", "[002]B", "[003]C"})
        copyToImage(QString::fromLatin1(row));
    const QStringList start = rowTexts(target());
    target()->setCurrentRow(0);
    press("moveUpButton");
    target()->setCurrentRow(2);
    press("moveDownButton");
    EXPECT_EQ(rowTexts(target()), start);
    press("moveUpButton"); // C up
    EXPECT_EQ(target()->currentRow(), 1);
    target()->setCurrentRow(0);
    press("moveDownButton"); // A down
    EXPECT_EQ(rowTexts(target()), (QStringList{QStringLiteral("[003]C"), QStringLiteral("[001]A"),
                                               QStringLiteral("[002]B")}));

    m_prompter.saveFiles = {path("image.bin")};
    press("saveImageButton");
    EXPECT_EQ(numbersIn(m_dir.file("image.bin"), 4, 4), (std::vector<std::int32_t>{3, 1, 2, -1}));
    EXPECT_EQ(test::readFileBytes(m_dir.file("image.bin")).size(), 64660u);
}

TEST_F(PtzImageWindowTest, TheSavedDatabaseIsShownAgainOnTheNextOpening)
{
    openWith({{4, "Four"}});
    pressInEditor("okButton", "addButton");
    m_prompter.saveFiles = {path("saved.pdb")};
    press("saveDatabaseButton");
    EXPECT_EQ(numbersIn(m_dir.file("saved.pdb"), 12, 2), (std::vector<std::int32_t>{4, 5}));
    m_window->reject();
    open();
    EXPECT_EQ(rowTexts(database()), (QStringList{QStringLiteral("[004]Four"),
                                                 QStringLiteral("[005]New PTZ Protocol(5)")}));
    EXPECT_EQ(target()->count(), 0);
}

TEST_F(PtzImageWindowTest, CloseHandsBackTheLatestImageOrNothing)
{
    auto box = [&] { return m_window->findChild<QCheckBox*>(QStringLiteral("useLatestImageBox")); };
    openWith({{1, "A"}});
    copyToImage(QStringLiteral("[001]A"));
    m_prompter.saveFiles = {path("image.bin")};
    press("saveImageButton");
    press("closeButton");
    EXPECT_EQ(m_window->result(), QDialog::Accepted);
    EXPECT_EQ(m_window->imagePath(), path("image.bin"));

    open();
    m_prompter.openFiles = {path("image.bin")};
    press("loadImageButton");
    EXPECT_EQ(rowTexts(target()), QStringList{QStringLiteral("[001]A")});
    box()->setChecked(false);
    press("closeButton");
    EXPECT_TRUE(m_window->imagePath().isEmpty());
    EXPECT_FALSE(m_memory.useLatestImage);

    open();
    EXPECT_FALSE(box()->isChecked());
    box()->setChecked(true);
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_FALSE(m_memory.useLatestImage);
}

using Answer = Prompter::Answer;

// An added protocol, then a way out and an answer; a save dialog cancelled after Yes keeps all.
TEST_F(PtzImageWindowTest, UnsavedChangesAreAskedAboutOnEveryWayOut)
{
    const QString question = QStringLiteral("The PTZ database has changed. Save the changes?");
    const QStringList edited{QStringLiteral("[001]A"), QStringLiteral("[002]New PTZ Protocol(2)")};
    writeDatabase(m_dir.file("other.pdb"), {{9, "Nine"}});
    for (const WayOut way : {WayOut::Close, WayOut::Escape, WayOut::CloseBox, WayOut::LoadDatabase})
        for (const auto& [answer, saveTo] :
             {std::pair{Answer::Yes, "saved.pdb"}, std::pair{Answer::Yes, ""},
              std::pair{Answer::No, ""}, std::pair{Answer::Cancel, ""}}) {
            const auto where = ::testing::Message() << int(way) << "/" << int(answer) << saveTo;
            std::remove(m_dir.file("saved.pdb").c_str());
            openWith({{1, "A"}});
            pressInEditor("okButton", "addButton");
            m_prompter.questions.clear();
            m_prompter.threeWayAnswers = {answer};
            m_prompter.saveFiles = {*saveTo ? path(saveTo) : QString()};
            m_prompter.openFiles = {path("other.pdb")};
            leave(way);
            const bool saved = *saveTo != 0;
            const bool left = answer == Answer::No || saved;
            EXPECT_EQ(m_prompter.questions, QStringList{question}) << where;
            EXPECT_EQ(std::filesystem::exists(m_dir.file("saved.pdb")), saved) << where;
            if (saved) {
                EXPECT_EQ(numbersIn(m_dir.file("saved.pdb"), 12, 2), (std::vector{1, 2})) << where;
            }
            if (way == WayOut::LoadDatabase) {
                EXPECT_EQ(rowTexts(database()), left ? QStringList{"[009]Nine"} : edited) << where;
            } else {
                EXPECT_EQ(m_window->isVisible(), !left) << where;
                EXPECT_EQ(rowTexts(database()), edited) << where;
            }
        }
}

TEST_F(PtzImageWindowTest, NothingIsAskedWithoutChangesAndAFailedPathIsForgotten)
{
    for (const WayOut way :
         {WayOut::Close, WayOut::Escape, WayOut::CloseBox, WayOut::LoadDatabase}) {
        openWith({{1, "A"}});
        pressInEditor("cancelButton", "addButton");
        leave(way);
        EXPECT_EQ(m_window->isVisible(), way == WayOut::LoadDatabase) << int(way);
    }
    EXPECT_TRUE(m_prompter.questions.isEmpty()) << m_prompter.questions.join('\n').toStdString();

    m_prompter.openFiles = {path("missing.pdb")};
    press("loadDatabaseButton");
    EXPECT_EQ(m_memory.lastDatabasePath, path("db.pdb")); // the last that loaded
    m_memory.lastDatabasePath = path("missing.pdb");
    m_prompter.messages.clear();
    open();
    open();
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("Can't read the file.")});
    EXPECT_TRUE(m_memory.lastDatabasePath.isEmpty());
}

TEST_F(PtzImageWindowTest, FailedLoadsAndSavesAreToldAndChangeNothing)
{
    openWith({{1, "A"}});
    copyToImage(QStringLiteral("[001]A"));
    m_prompter.saveFiles = {path("image.bin")};
    press("saveImageButton");
    test::writeFileBytes(m_dir.file("short.bin"), Bytes(100, 0));
    m_prompter.openFiles = {path("missing.pdb"), path("short.bin")};
    m_prompter.saveFiles = {path("no/such/folder/db.pdb"), path("no/such/folder/image.bin")};
    for (const char* button :
         {"loadDatabaseButton", "loadImageButton", "saveDatabaseButton", "saveImageButton"})
        press(button);

    ASSERT_EQ(m_prompter.messages.size(), 4);
    const char* heads[] = {"Can't read the file.", "Can't read the file.", "Can't save the file.",
                           "Can't save the file."};
    const char* names[] = {"missing.pdb", "short.bin", "db.pdb", "image.bin"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m_prompter.messages[i], QString::fromLatin1(heads[i]));
        EXPECT_TRUE(m_prompter.details[i].contains(QString::fromLatin1(names[i])))
            << m_prompter.details[i].toStdString();
        EXPECT_EQ(m_prompter.severities[static_cast<std::size_t>(i)], Prompter::Severity::Warning);
    }
    EXPECT_EQ(rowTexts(database()), QStringList{QStringLiteral("[001]A")});
    EXPECT_EQ(rowTexts(target()), QStringList{QStringLiteral("[001]A")});
    press("closeButton");
    EXPECT_EQ(m_window->imagePath(), path("image.bin"));
}

TEST_F(PtzImageWindowTest, RowsAreFoundByTheirNumberSignIncluded)
{
    openWith({{-5, "Minus"}, {2, "Two"}, {3, "Three"}});
    ASSERT_EQ(database()->item(0)->text(), QStringLiteral("[-05]Minus"));
    copyToImage(QStringLiteral("[-05]Minus"));
    EXPECT_EQ(rowTexts(target()), QStringList{QStringLiteral("[-05]Minus")});

    select(database(), QStringLiteral("[-05]Minus"));
    pressInEditor("okButton", "modifyButton", [](PtzEditorWindow& editor) {
        editor.findChild<QLineEdit*>(QStringLiteral("nameEdit"))
            ->setText(QStringLiteral("Renamed"));
    });
    select(database(), QStringLiteral("[003]Three"));
    pressInEditor("cancelButton", "modifyButton", [](PtzEditorWindow& editor) {
        editor.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Lost"));
    });
    select(database(), QStringLiteral("[002]Two"));
    press("deleteButton");
    press("deleteButton"); // nothing is selected after a Delete
    EXPECT_EQ(rowTexts(database()),
              (QStringList{QStringLiteral("[-05]Renamed"), QStringLiteral("[003]Three")}));

    m_prompter.saveFiles = {path("saved.pdb")};
    press("saveDatabaseButton");
    const Bytes saved = test::readFileBytes(m_dir.file("saved.pdb"));
    ASSERT_EQ(saved.size(), 12u + 2 * 1796);
    EXPECT_EQ(le32(saved, 12), -5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&saved[16])), "Renamed");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&saved[12 + 1796 + 4])), "Three");
}

// The whole road: build an image in the creator, Close, and Download sends exactly its bytes.
TEST(PtzImageRoadTest, TheImageSavedInTheCreatorGoesToTheRecorder)
{
    test::TempDir dir;
    writeDatabase(dir.file("db.pdb"), {{1, "Pelco-D", 0x11}, {2, "Pelco-P", 0x22}});
    const QString imagePath = QString::fromStdString(dir.file("road.bin"));
    sim::Simulator simulator(test::loopbackOptions());
    ASSERT_TRUE(test::startSimulator(simulator));

    test::ScriptedPrompter prompter;
    prompter.openFiles = {QString::fromStdString(dir.file("db.pdb"))};
    prompter.saveFiles = {imagePath};
    UpgradeWindow window(prompter);
    window.setDownloadDeadlines(test::simulatorDeadlines());
    window.findChild<QRadioButton*>(QStringLiteral("ptzImageRadio"))->click();
    WhenModal<PtzImageWindow> creator([](PtzImageWindow& w) {
        auto click = [&](const char* name) {
            w.findChild<QPushButton*>(QString::fromLatin1(name))->click();
        };
        auto* database = w.findChild<QListWidget*>(QStringLiteral("databaseList"));
        click("loadDatabaseButton");
        for (int row : {1, 0}) {
            database->setCurrentRow(row);
            click("copyToImageButton");
        }
        click("saveImageButton");
        click("closeButton");
    });
    window.findChild<QPushButton*>(QStringLiteral("editPtzButton"))->click();
    ASSERT_TRUE(creator.acted());
    auto* imageEdit = window.findChild<QLineEdit*>(QStringLiteral("imagePathEdit"));
    ASSERT_EQ(imageEdit->text(), imagePath);

    window.findChild<QLineEdit*>(QStringLiteral("targetIpEdit"))
        ->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit*>(QStringLiteral("targetPortEdit"))
        ->setText(QString::number(simulator.port()));
    window.findChild<QPushButton*>(QStringLiteral("downloadButton"))->click();

    EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.messages.join('\n').toStdString();
    ASSERT_TRUE(simulator.waitForTransfers(1, 5s));
    const auto received = simulator.transfers();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].typeCode, 0x55AB0008u);
    const Bytes& payload = received[0].payload;
    EXPECT_EQ(payload, test::readFileBytes(dir.file("road.bin")));
    ASSERT_EQ(payload.size(), 64660u);
    EXPECT_EQ(le32(payload, 4), 2); // Pelco-P first, as picked
    EXPECT_EQ(payload[4 + 48], 0x22);
    EXPECT_EQ(le32(payload, 4 + 1796), 1);
    EXPECT_EQ(payload[4 + 1796 + 48], 0x11);
    EXPECT_EQ(le32(payload, 4 + 2 * 1796), -1);
    EXPECT_EQ(test::littleEndianWordSum(payload), 0u);
}

} // namespace
} // namespace tolvane
