#include "gui/upgrade_window_fixture.h"

#include <tuple>

namespace tolvane {
namespace {

using namespace upgrade_window_test;
using namespace std::chrono_literals;

// What a screen reader is told a widget is called.
QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

TEST_F(UpgradeWindowTest, ScreenReadersGetThePlainCaptions)
{
    const std::pair<const char*, const char*> names[] = {
        {"targetIpEdit", "Target IP"},
        {"targetPortEdit", "Target Port"},
        {"integratedRadio", "Download Integrated Image"},
        {"individualDataRadio", "Download Individual Data"},
        {"applicationImageRadio", "Download Only Application Image"},
        {"ptzImageRadio", "Download PTZ Image"},
        {"imagePathEdit", "Image Path"},
        {"browseButton", "Browse for image"},
        {"macBox", "Download MAC Address"},
        {"macEdit", "Download MAC Address"},
        {"autoIncreaseBox", "Auto Increase"},
        {"serialBox", "Download S/N"},
        {"serialEdit", "Download S/N"},
        {"editPtzButton", "Editing PTZ Data"},
        {"downloadButton", "Download (Enter key)"},
        {"exitButton", "Exit (ESC key)"},
        {"downloadTypeGroup", "Select Download Type"},
    };
    for (const auto& [name, expected] : names)
        EXPECT_EQ(accessibleName(child<QWidget>(name)), QString::fromLatin1(expected)) << name;
}

// The letter after the single '&' of a caption, or 0.
QChar mnemonicLetter(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    if (at < 0 || at + 1 >= text.size() || text.indexOf(QLatin1Char('&'), at + 1) >= 0)
        return QChar();
    return text.at(at + 1).toUpper();
}

TEST_F(UpgradeWindowTest, EveryCaptionHasItsOwnAltLetter)
{
    QStringList captions;
    for (auto* label : m_window->findChildren<QLabel*>())
        if (label->buddy() && label->isVisibleTo(m_window.get()))
            captions << label->text();
    for (auto* button : m_window->findChildren<QAbstractButton*>())
        if (button->objectName() != QStringLiteral("browseButton"))
            captions << button->text();
    for (auto* group : m_window->findChildren<QGroupBox*>())
        captions << group->title();
    // Three labels with buddies, four radios, three check boxes, three push buttons, one group.
    EXPECT_EQ(captions.size(), 14);

    QMap<QChar, QString> taken;
    for (const QString& caption : captions) {
        const QChar letter = mnemonicLetter(caption);
        EXPECT_FALSE(letter.isNull()) << caption.toStdString();
        if (letter.isNull())
            continue;
        EXPECT_FALSE(taken.contains(letter))
            << caption.toStdString() << " and " << taken.value(letter).toStdString();
        taken.insert(letter, caption);
    }
}

class UpgradeWindowKeyTest : public UpgradeWindowTest {
protected:
    void SetUp() override
    {
        UpgradeWindowTest::SetUp();
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        // Start from a field no shortcut leads to.
        edit("targetIpEdit")->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit("targetIpEdit")->hasFocus(); }));
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::AltModifier) const
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
};

TEST_F(UpgradeWindowKeyTest, AltLettersReachTheFields)
{
    struct Case {
        Qt::Key key;
        const char* field;
    };
    const Case cases[] = {
        {Qt::Key_P, "targetPortEdit"},
        {Qt::Key_H, "imagePathEdit"},
        {Qt::Key_I, "targetIpEdit"},
    };
    for (const Case& c : cases) {
        press(c.key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return edit(c.field)->hasFocus(); })) << c.field;
    }
}

TEST_F(UpgradeWindowKeyTest, AltTChoosesThePtzTypeAndAltAGoesBack)
{
    press(Qt::Key_T);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return m_window->downloadType() == DownloadType::PtzImage; }));
    // The radio's own handler ran: the PTZ tools are open to it now.
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QPushButton>("editPtzButton")->isEnabled(); }));

    press(Qt::Key_A);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return m_window->downloadType() == DownloadType::ApplicationImage; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !child<QPushButton>("editPtzButton")->isEnabled(); }));
}

TEST_F(UpgradeWindowKeyTest, AltMClearsTheMacBoxOfAnIdentityType)
{
    choose(DownloadType::IndividualData);
    edit("targetIpEdit")->setFocus();
    ASSERT_TRUE(box("macBox")->isChecked());
    press(Qt::Key_M);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box("macBox")->isChecked(); }));
    // Through the box's click handler, which disables the MAC edit with it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !edit("macEdit")->isEnabled(); }));
}

TEST_F(UpgradeWindowKeyTest, AltShiftLettersReachTheEditsOfTickedBoxes)
{
    choose(DownloadType::IndividualData);
    for (const auto& [key, field, boxName] : {std::tuple{Qt::Key_M, "macEdit", "macBox"},
                                              std::tuple{Qt::Key_S, "serialEdit", "serialBox"}}) {
        edit("targetIpEdit")->setFocus();
        press(key, Qt::AltModifier | Qt::ShiftModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return edit(field)->hasFocus(); })) << field;
        EXPECT_TRUE(box(boxName)->isChecked()) << boxName;
    }
}

TEST_F(UpgradeWindowKeyTest, CtrlOBrowsesForTheImage)
{
    m_prompter.openFiles = {QStringLiteral("/chosen/by/keyboard.img")};
    press(Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return edit("imagePathEdit")->text() == QStringLiteral("/chosen/by/keyboard.img");
    }));
    EXPECT_EQ(m_prompter.fileFilters, QStringList{QStringLiteral("All files (*)")});
}

} // namespace
} // namespace tolvane
