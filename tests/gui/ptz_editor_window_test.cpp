#include "core/ptz/ptz_protocol_list.h"
#include "gui/ptz_editor_window.h"
#include "gui/scripted_prompter.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace tolvane {
namespace {

using Mode = PtzEditorWindow::Mode;

const QString enterInteger = QStringLiteral("Please enter an integer.");

// Number 7, "Alpha", EVEN / 7 bits / 2 stop bits at 9600; command k's 44 bytes count on from
// k * 44, so the table holds every byte value; enable alternates Off and On.
PtzProtocol patternedRecord()
{
    PtzProtocol record;
    record.number = 7;
    record.setName("Alpha");
    record.parity = 3;
    record.dataBits = 2;
    record.stopBits = 1;
    record.baudRate = 9600;
    for (int k = 0; k < 40; ++k) {
        PtzCommand& c = record.commands[static_cast<std::size_t>(k)];
        std::uint8_t* fields[] = {&c.repeatCount,    &c.senderOffset,   &c.receiverOffset,
                                  &c.checksumOffset, &c.checksumStart,  &c.checksumEnd,
                                  &c.commandDelay,   &c.checksumMethod, &c.commandLength,
                                  &c.nextCommand,    &c.dataFormat};
        c.enable = static_cast<std::uint8_t>(k % 2);
        for (int f = 0; f < 11; ++f)
            *fields[f] = static_cast<std::uint8_t>(k * 44 + 1 + f);
        for (int i = 0; i < 32; ++i)
            c.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(k * 44 + 12 + i);
    }
    return record;
}

QString spokenName(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

class PtzEditorWindowTest : public ::testing::Test {
protected:
    void open(const PtzProtocol& record, Mode mode = Mode::Modifying)
    {
        m_editor = std::make_unique<PtzEditorWindow>(m_prompter, record, m_database, mode);
        m_editor->show();
    }
    template <typename T> T* child(const QString& name) const
    {
        T* widget = m_editor->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    QLineEdit* edit(const QString& name) const { return child<QLineEdit>(name); }
    QLineEdit* byteEdit(int i) const { return edit(QStringLiteral("commandByte%1").arg(i)); }
    QListWidget* commands() const { return child<QListWidget>(QStringLiteral("commandSetList")); }
    void press(const char* button) const
    {
        child<QPushButton>(QString::fromLatin1(button))->click();
    }
    void retype(QLineEdit* field, const QString& text) const
    {
        field->clear();
        QTest::keyClicks(field, text);
    }
    // A mouse click on a row of "Command Set", the way an operator reselects a command.
    void clickCommand(int row) const
    {
        commands()->scrollToItem(commands()->item(row));
        const QRect rect = commands()->visualItemRect(commands()->item(row));
        QTest::mouseClick(commands()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    bool accepted() const { return m_editor->result() == QDialog::Accepted; }

    test::ScriptedPrompter m_prompter;
    PtzProtocolList m_database;
    std::unique_ptr<PtzEditorWindow> m_editor;
};

TEST_F(PtzEditorWindowTest, EveryByteSurvivesShowAndStore)
{
    const PtzProtocol original = patternedRecord();
    open(original);
    EXPECT_EQ(m_editor->windowTitle(), QStringLiteral("PTZ Data Editor"));
    EXPECT_EQ(edit(QStringLiteral("nameEdit"))->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(edit(QStringLiteral("baudRateEdit"))->text(), QStringLiteral("9600"));
    EXPECT_EQ(child<QComboBox>(QStringLiteral("parityCombo"))->currentText(),
              QStringLiteral("EVEN"));
    EXPECT_EQ(child<QComboBox>(QStringLiteral("dataBitsCombo"))->currentText(),
              QStringLiteral("BYTE 7"));
    EXPECT_EQ(edit(QStringLiteral("checksumMethodEdit"))->text(), QStringLiteral("08"));
    EXPECT_EQ(byteEdit(31)->text(), QStringLiteral("2B"));
    ASSERT_EQ(commands()->count(), 40);
    EXPECT_EQ(commands()->item(39)->text(), QStringLiteral("PTZCMD_RESERVED39"));

    retype(byteEdit(0), QStringLiteral("5a")); // stored when command 1 is chosen
    for (int k = 1; k < 40; ++k)
        commands()->setCurrentRow(k);
    EXPECT_EQ(byteEdit(0)->text(), QStringLiteral("C0")); // (39 * 44 + 12) & 0xFF
    press("okButton");
    ASSERT_TRUE(accepted());
    PtzProtocol expected = original;
    expected.commands[0].bytes[0] = 0x5A;
    EXPECT_EQ(m_editor->record(), expected);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

// Typed or pasted, a hex field takes hex digits only (a paste with anything else is refused
// whole), so what it shows is what is stored; text the program sets is still read leniently.
TEST_F(PtzEditorWindowTest, HexFieldsTakeOnlyHexDigitsAndShowWhatIsStored)
{
    const struct {
        char way; // typed, pasted, or set by the program
        const char* text;
        const char* shown;
        unsigned stored;
    } cases[] = {
        {'t', "5g", "5", 0x05},  {'t', "g5", "5", 0x05},  {'t', "abc", "AB", 0xAB},
        {'t', " 7", "7", 0x07},  {'t', "", "", 0x00},     {'p', "g5", "", 0x00},
        {'p', "5a", "5A", 0x5A}, {'p', "1 ", "", 0x00},   {'p', "-1", "", 0x00},
        {'p', "0x", "", 0x00},   {'s', "5G", "5G", 0x50},
    };
    for (const auto& c : cases) {
        open(PtzProtocol{}, Mode::Adding);
        QLineEdit* field = byteEdit(5);
        field->clear();
        const QString text = QString::fromLatin1(c.text);
        if (c.way == 't')
            QTest::keyClicks(field, text);
        if (c.way == 'p') {
            QApplication::clipboard()->setText(text);
            field->paste();
        }
        if (c.way == 's')
            field->setText(text);
        EXPECT_EQ(field->text(), QString::fromLatin1(c.shown)) << c.text;
        press("okButton");
        ASSERT_TRUE(accepted()) << c.text;
        EXPECT_EQ(m_editor->record().commands[0].bytes[5], c.stored) << c.text;
    }
}

TEST_F(PtzEditorWindowTest, ReselectingTheShownCommandDropsUnsavedEdits)
{
    const PtzProtocol original = patternedRecord();
    open(original);
    clickCommand(3);
    retype(edit(QStringLiteral("nameEdit")), QStringLiteral("Changed"));
    retype(edit(QStringLiteral("baudRateEdit")), QStringLiteral("4800"));
    retype(byteEdit(0), QStringLiteral("EE"));
    clickCommand(3);
    EXPECT_EQ(edit(QStringLiteral("nameEdit"))->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(edit(QStringLiteral("baudRateEdit"))->text(), QStringLiteral("9600"));
    EXPECT_EQ(byteEdit(0)->text(), QStringLiteral("90")); // 3 * 44 + 12

    // Space on the shown row does the same from the keyboard.
    retype(byteEdit(0), QStringLiteral("EE"));
    QTest::keyClick(commands(), Qt::Key_Space);
    EXPECT_EQ(byteEdit(0)->text(), QStringLiteral("90"));
    press("okButton");
    EXPECT_EQ(m_editor->record(), original);
}

TEST_F(PtzEditorWindowTest, ApplyToAllCommandsCopiesTheShownCommandOnYesOnly)
{
    open(patternedRecord());
    commands()->setCurrentRow(7);
    retype(byteEdit(0), QStringLiteral("AA"));
    m_prompter.answers = {false, true};
    press("applyToAllButton");
    press("applyToAllButton");
    EXPECT_EQ(m_prompter.questions,
              QStringList(2, QStringLiteral("It'll be change to current set value of all "
                                            "commands. Do you want to apply?")));
    EXPECT_EQ(commands()->currentRow(), 7);
    press("okButton");
    PtzCommand expected = patternedRecord().commands[7];
    expected.bytes[0] = 0xAA;
    for (const PtzCommand& command : m_editor->record().commands)
        ASSERT_EQ(command, expected);
}

TEST_F(PtzEditorWindowTest, ReturnDefaultValueRestoresTheShownCommandOrTheWholeRecord)
{
    const QString restoreQuestion =
        QStringLiteral("It'll be lose modified valuse. Do you want to apply?");
    const PtzProtocol original = patternedRecord();
    PtzProtocol edited = original; // as the edits below leave it
    edited.number = 99;
    edited.setName("Changed");
    edited.parity = 1;
    edited.commands[0].bytes[0] = 0xEE;
    PtzProtocol headerKept = edited;
    headerKept.commands[0] = original.commands[0];
    const struct {
        bool shownOnly;
        bool answer;
        QStringList questions;
        const PtzProtocol& stored;
    } cases[] = {{true, false, {}, headerKept},
                 {false, false, {restoreQuestion}, edited},
                 {false, true, {restoreQuestion}, original}};
    for (const auto& c : cases) {
        m_prompter.questions.clear();
        m_prompter.answers = {c.answer};
        open(original, Mode::Adding);
        retype(edit(QStringLiteral("numberEdit")), QStringLiteral("99"));
        retype(edit(QStringLiteral("nameEdit")), QStringLiteral("Changed"));
        child<QComboBox>(QStringLiteral("parityCombo"))->setCurrentIndex(1);
        retype(byteEdit(0), QStringLiteral("EE"));
        commands()->setCurrentRow(1); // stores command 0 as edited
        commands()->setCurrentRow(0);
        child<QCheckBox>(QStringLiteral("restoreShownOnlyBox"))->setChecked(c.shownOnly);
        press("returnDefaultButton");
        EXPECT_EQ(m_prompter.questions, c.questions);
        press("okButton");
        ASSERT_TRUE(accepted());
        EXPECT_EQ(m_editor->record(), c.stored) << c.shownOnly << c.answer;
    }
}

TEST_F(PtzEditorWindowTest, ANumberTheDatabaseHoldsIsRefusedOnlyWhileAdding)
{
    ASSERT_TRUE(m_database.Grow(1));
    PtzProtocol five;
    five.number = 5;
    ASSERT_TRUE(m_database.SetAt(0, five));

    open(PtzProtocol{}, Mode::Adding);
    EXPECT_TRUE(edit(QStringLiteral("numberEdit"))->isEnabled());
    retype(edit(QStringLiteral("numberEdit")), QStringLiteral("5"));
    press("okButton");
    EXPECT_EQ(
        m_prompter.messages,
        QStringList{QStringLiteral("This is a already exist code. Change to another code value.")});
    EXPECT_TRUE(m_editor->isVisible());
    retype(edit(QStringLiteral("numberEdit")), QStringLiteral("6"));
    press("okButton");
    ASSERT_TRUE(accepted());
    EXPECT_EQ(m_editor->record().number, 6);

    m_prompter.messages.clear();
    open(five, Mode::Modifying);
    EXPECT_FALSE(edit(QStringLiteral("numberEdit"))->isEnabled());
    press("okButton");
    EXPECT_TRUE(accepted());
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(PtzEditorWindowTest, StoringFollowsTheRecordRules)
{
    PtzProtocol record;
    record.parity = 2;   // no such code: shows NONE, stores 0
    record.stopBits = 7; // shows STOP 1, stores 0
    record.commands[0].enable = 2;
    record.commands[1].enable = 2;
    open(record, Mode::Adding);
    EXPECT_EQ(child<QComboBox>(QStringLiteral("parityCombo"))->currentText(),
              QStringLiteral("NONE"));
    EXPECT_EQ(child<QComboBox>(QStringLiteral("enableCombo"))->currentIndex(), -1);
    retype(edit(QStringLiteral("nameEdit")), QString(30, QLatin1Char('n')));
    commands()->setCurrentRow(1);
    child<QComboBox>(QStringLiteral("enableCombo"))->setCurrentIndex(1);
    press("okButton");
    ASSERT_TRUE(accepted());
    const auto bytes = m_editor->record().toBytes();
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 28), std::string(23, 'n') + '\0');
    EXPECT_EQ(bytes[28], 0);      // parity
    EXPECT_EQ(bytes[30], 0);      // stop bits
    EXPECT_EQ(bytes[36], 0xFF);   // command 0 enable: no choice made
    EXPECT_EQ(bytes[36 + 44], 1); // command 1 enable: "On"
}

TEST_F(PtzEditorWindowTest, ANumberOrBaudRateThatIsNoIntegerKeepsTheWindowOpen)
{
    const struct {
        const char* field;
        const char* text;
    } cases[] = {{"numberEdit", ""},
                 {"baudRateEdit", "96 00"},
                 {"baudRateEdit", "x"},
                 {"baudRateEdit", "99999999999"}};
    for (const auto& c : cases) {
        m_prompter.messages.clear();
        open(PtzProtocol{}, Mode::Adding);
        QLineEdit* field = edit(QString::fromLatin1(c.field));
        field->setText(QString::fromLatin1(c.text)); // as pasted: no key filter
        retype(byteEdit(0), QStringLiteral("CD"));
        press("okButton");
        EXPECT_EQ(m_prompter.messages, QStringList{enterInteger}) << c.field << c.text;
        EXPECT_EQ(m_editor->focusWidget(), field) << c.field;
        EXPECT_TRUE(m_editor->isVisible()) << c.field;
        commands()->setCurrentRow(1); // stores command 0: the bad number costs no other edit
        commands()->setCurrentRow(0);
        EXPECT_EQ(byteEdit(0)->text(), QStringLiteral("CD")) << c.field;
    }
}

TEST_F(PtzEditorWindowTest, NumberTakesTypedDigitsOnly)
{
    open(PtzProtocol{}, Mode::Adding);
    retype(edit(QStringLiteral("numberEdit")), QStringLiteral("1a-2 3"));
    QTest::keyClick(edit(QStringLiteral("numberEdit")), Qt::Key_Backspace);
    EXPECT_EQ(edit(QStringLiteral("numberEdit"))->text(), QStringLiteral("12"));
}

TEST_F(PtzEditorWindowTest, FieldsAreNamedAfterTheirCaptions)
{
    open(PtzProtocol{}, Mode::Adding);
    const std::pair<const char*, const char*> names[] = {
        {"numberEdit", "Number"},
        {"baudRateEdit", "Baud Rate"},
        {"parityCombo", "Parity"},
        {"dataBitsCombo", "Data Bit"},
        {"stopBitsCombo", "Stop Bit"},
        {"commandSetList", "Command Set"},
        {"enableCombo", "Enable"},
        {"receiverOffsetEdit", "Receiver Offset"},
        {"checksumStartEdit", "Checksum Start Offset"},
        {"dataFormatEdit", "Data Format"},
        {"commandByte12", "Command byte 12"},
        {"applyToAllButton", "Apply to all commands"}};
    // As a screen reader hears them: a drop-down list by its caption, not by its entry.
    for (const auto& [object, name] : names)
        EXPECT_EQ(spokenName(child<QWidget>(QString::fromLatin1(object))),
                  QString::fromLatin1(name));
    int labelled = 0;
    for (const QLabel* label : m_editor->findChildren<QLabel*>())
        labelled += label->buddy() != nullptr;
    EXPECT_EQ(labelled, 6 + 1 + 1 + 11 + 1); // header, list, Enable, settings, grid caption
}

// Tab walks every control once, in reading order: header, commands, grid, then OK and Cancel.
TEST_F(PtzEditorWindowTest, TabReachesEveryControlInReadingOrder)
{
    open(PtzProtocol{}, Mode::Adding);
    EXPECT_EQ(m_editor->focusWidget(), edit(QStringLiteral("numberEdit")));
    QStringList order;
    QWidget* w = edit(QStringLiteral("numberEdit"));
    do {
        if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != edit(QStringLiteral("numberEdit")));
    int focusable = 0;
    for (QWidget* child : m_editor->findChildren<QWidget*>())
        focusable += child->isVisible() && (child->focusPolicy() & Qt::TabFocus) ? 1 : 0;
    EXPECT_EQ(order.size(), focusable);
    EXPECT_EQ(order.mid(0, 3),
              (QStringList{QStringLiteral("numberEdit"), QStringLiteral("nameEdit"),
                           QStringLiteral("baudRateEdit")}));
    EXPECT_EQ(order.mid(order.size() - 4),
              (QStringList{QStringLiteral("commandByte31"), QStringLiteral("applyToAllButton"),
                           QStringLiteral("okButton"), QStringLiteral("cancelButton")}));

    // Enter presses the button that has the focus, not OK.
    retype(edit(QStringLiteral("nameEdit")), QStringLiteral("Kept?"));
    QTest::keyClick(child<QPushButton>(QStringLiteral("cancelButton")), Qt::Key_Return);
    EXPECT_FALSE(m_editor->isVisible());
    EXPECT_EQ(m_editor->result(), QDialog::Rejected);
}

} // namespace
} // namespace tolvane
