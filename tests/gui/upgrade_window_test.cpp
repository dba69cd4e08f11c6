#include "gui/upgrade_window_fixture.h"
#include "support/ptz_image_bytes.h"

namespace tolvane {
namespace {

using namespace upgrade_window_test;
using namespace std::chrono_literals;

TEST_F(UpgradeWindowTest, StartState)
{
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral(" Tolvane ver. 3.5"));
    EXPECT_EQ(child<QLabel>("titleLine")->text(), QStringLiteral("Tolvane  ver 3.7"));
    EXPECT_EQ(edit("targetIpEdit")->text(), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(edit("targetPortEdit")->text(), QStringLiteral("5000"));
    EXPECT_EQ(edit("imagePathEdit")->text(), QString());
    EXPECT_EQ(edit("macEdit")->text(), QString());
    EXPECT_EQ(edit("macEdit")->maxLength(), 12);
    EXPECT_EQ(edit("serialEdit")->text(), QStringLiteral("0"));

    EXPECT_EQ(m_window->downloadType(), DownloadType::ApplicationImage);
    EXPECT_TRUE(radio(2)->isChecked());
    EXPECT_FALSE(radio(0)->isEnabled());
    EXPECT_FALSE(radio(1)->isEnabled());
    EXPECT_TRUE(radio(2)->isEnabled());
    EXPECT_TRUE(radio(3)->isEnabled());
    EXPECT_EQ(radio(0)->text(), QStringLiteral("Download Inte&grated Image"));
    EXPECT_EQ(radio(1)->text(), QStringLiteral("Download Indi&vidual Data"));
    EXPECT_EQ(radio(2)->text(), QStringLiteral("Download Only &Application Image"));
    EXPECT_EQ(radio(3)->text(), QStringLiteral("Download P&TZ Image"));

    EXPECT_TRUE(edit("imagePathEdit")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("browseButton")->isEnabled());
    EXPECT_TRUE(box("macBox")->isChecked());
    EXPECT_TRUE(box("serialBox")->isChecked());
    EXPECT_FALSE(box("autoIncreaseBox")->isChecked());
    for (const char* name : {"macBox", "serialBox", "autoIncreaseBox"})
        EXPECT_FALSE(box(name)->isEnabled()) << name;
    EXPECT_FALSE(edit("macEdit")->isEnabled());
    EXPECT_FALSE(edit("serialEdit")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("editPtzButton")->isEnabled());

    auto* key = edit("certificationKeyEdit");
    EXPECT_FALSE(key->isEnabled());
    EXPECT_TRUE(key->isHidden());
    EXPECT_TRUE(child<QLabel>("certificationKeyLabel")->isHidden());
    EXPECT_EQ(child<QLabel>("certificationKeyLabel")->text(),
              QStringLiteral("Certification Key :"));
    EXPECT_EQ(key->text().size(), 4);
    for (const QChar c : key->text())
        EXPECT_TRUE(c.isDigit());

    auto* download = child<QPushButton>("downloadButton");
    EXPECT_EQ(download->text(), QStringLiteral("&Download\n(Enter key)"));
    EXPECT_TRUE(download->isDefault());
    EXPECT_EQ(child<QPushButton>("exitButton")->text(), QStringLiteral("E&xit (ESC key)"));
    EXPECT_EQ(child<QPushButton>("editPtzButton")->text(), QStringLiteral("&Editing PTZ Data"));
    EXPECT_EQ(child<QPushButton>("browseButton")->text(), QStringLiteral("..."));
    EXPECT_EQ(child<QLabel>("macPrefixLabel")->text(), QStringLiteral("0x"));

    auto* about = m_window->findChild<QAction*>(QStringLiteral("aboutAction"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("Quenlar Information(&A)..."));
    EXPECT_TRUE(m_window->actions().contains(about));
    EXPECT_FALSE(m_window->windowIcon().isNull());
}

struct TypeState {
    int type;
    bool imagePath, identity, editPtz, ticks;
};

class UpgradeWindowTypeTest : public UpgradeWindowTest,
                              public ::testing::WithParamInterface<TypeState> {};

TEST_P(UpgradeWindowTypeTest, RadioSetsTheEnabledStates)
{
    const TypeState& s = GetParam();
    // Start from the PTZ type with both boxes cleared, so every change is visible.
    radio(3)->click();
    box("macBox")->setChecked(false);
    box("serialBox")->setChecked(false);

    choose(s.type);

    EXPECT_EQ(static_cast<int>(m_window->downloadType()), s.type);
    EXPECT_EQ(edit("imagePathEdit")->isEnabled(), s.imagePath);
    for (const char* name : {"macBox", "autoIncreaseBox", "serialBox"})
        EXPECT_EQ(box(name)->isEnabled(), s.identity) << name;
    EXPECT_EQ(edit("macEdit")->isEnabled(), s.identity);
    EXPECT_EQ(edit("serialEdit")->isEnabled(), s.identity);
    EXPECT_EQ(child<QPushButton>("editPtzButton")->isEnabled(), s.editPtz);
    EXPECT_EQ(box("macBox")->isChecked(), s.ticks);
    EXPECT_EQ(box("serialBox")->isChecked(), s.ticks);
    EXPECT_TRUE(child<QPushButton>("browseButton")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Types, UpgradeWindowTypeTest,
                         ::testing::Values(TypeState{0, true, true, false, true},
                                           TypeState{1, false, true, false, true},
                                           TypeState{2, true, false, false, false},
                                           TypeState{3, true, false, true, false}));

TEST_F(UpgradeWindowTest, CheckBoxesEnableTheirFields)
{
    choose(DownloadType::IndividualData);
    box("macBox")->click(); // clears it
    EXPECT_FALSE(edit("macEdit")->isEnabled());
    EXPECT_FALSE(box("autoIncreaseBox")->isEnabled());
    EXPECT_TRUE(edit("serialEdit")->isEnabled());
    box("macBox")->click();
    EXPECT_TRUE(edit("macEdit")->isEnabled());
    EXPECT_TRUE(box("autoIncreaseBox")->isEnabled());

    box("serialBox")->click();
    EXPECT_FALSE(edit("serialEdit")->isEnabled());
    EXPECT_TRUE(edit("macEdit")->isEnabled());
    box("serialBox")->click();
    EXPECT_TRUE(edit("serialEdit")->isEnabled());
}

TEST_F(UpgradeWindowTest, TabDoesNotMoveTheFocus)
{
    m_window->show();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    auto* port = edit("targetPortEdit");
    port->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->hasFocus(); }));

    QTest::keyClick(port, Qt::Key_Tab);
    EXPECT_TRUE(port->hasFocus());
    QTest::keyClick(port, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(port->hasFocus());
    QTest::keyClick(m_window.get(), Qt::Key_Tab);
    EXPECT_TRUE(port->hasFocus());
}

TEST_F(UpgradeWindowTest, EscClosesTheWindow)
{
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Rejected);
}

struct BadField {
    const char* name;
    const char* field;
    const char* text;
};

class UpgradeWindowBadFieldTest : public UpgradeWindowTest,
                                  public ::testing::WithParamInterface<BadField> {};

TEST_P(UpgradeWindowBadFieldTest, GivesWrongNumberFocusesTheFieldAndSendsNothing)
{
    const BadField& c = GetParam();
    pointAtSimulator();
    // The identity fields can only be edited, and so only be wrong, with an identity type.
    choose(DownloadType::IndividualData);
    edit("macEdit")->setText(QStringLiteral("00A1B2C3D4E5"));
    // Set directly, past the typing filters.
    edit(c.field)->setText(QString::fromLatin1(c.text));

    child<QPushButton>("downloadButton")->click();

    EXPECT_EQ(m_prompter.messages, QStringList{wrongNumber});
    EXPECT_EQ(m_window->focusWidget(), edit(c.field));
    EXPECT_FALSE(simulatorSawConnection());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, UpgradeWindowBadFieldTest,
    ::testing::Values(BadField{"PortLetters", "targetPortEdit", "50a0"},
                      BadField{"PortZero", "targetPortEdit", "0"},
                      BadField{"Port70000", "targetPortEdit", "70000"},
                      BadField{"Port65536", "targetPortEdit", "65536"},
                      BadField{"PortNegative", "targetPortEdit", "-5000"},
                      BadField{"PortEmpty", "targetPortEdit", ""},
                      BadField{"SerialLetters", "serialEdit", "12x"},
                      BadField{"SerialPast32Bits", "serialEdit", "4294967296"},
                      BadField{"SerialNegative", "serialEdit", "-1"},
                      BadField{"Address300", "targetIpEdit", "300.1.1.1"},
                      BadField{"AddressThreeParts", "targetIpEdit", "1.2.3"},
                      BadField{"AddressEmpty", "targetIpEdit", ""},
                      BadField{"AddressWithLetters", "targetIpEdit", "10.0.0.x"},
                      BadField{"AddressZero", "targetIpEdit", "0.0.0.0"},
                      BadField{"AddressMulticast", "targetIpEdit", "224.0.0.1"},
                      BadField{"AddressBroadcast", "targetIpEdit", "255.255.255.255"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(UpgradeWindowTest, TypingFiltersMacLengthAndAddress)
{
    choose(DownloadType::IndividualData);
    auto* mac = edit("macEdit");
    QTest::keyClicks(mac, QStringLiteral("0123456789ABC"));
    EXPECT_EQ(mac->text(), QStringLiteral("0123456789AB"));

    auto* ip = edit("targetIpEdit");
    ip->clear();
    QTest::keyClicks(ip, QStringLiteral("300.1.1.1"));
    EXPECT_NE(ip->text(), QStringLiteral("300.1.1.1"));
    EXPECT_FALSE(ip->text().startsWith(QStringLiteral("300")));
    ip->clear();
    QTest::keyClicks(ip, QStringLiteral("127.x0.0.7"));
    EXPECT_EQ(ip->text(), QStringLiteral("127.0.0.7"));
}

// Records what Download asked for.
struct DownloadCalls {
    std::vector<DownloadType> types;
    DownloadInputs inputs;
};

DownloadRunner recordingRunner(DownloadCalls& calls, RoutineOutcome outcome = {})
{
    return [&calls, outcome](DownloadType type, const DownloadInputs& inputs, DownloadOperator&) {
        calls.types.push_back(type);
        calls.inputs = inputs;
        return outcome;
    };
}

TEST_F(UpgradeWindowTest, DownloadDispatchesByTypeWithTheFields)
{
    DownloadCalls calls;
    m_window->setDownloadRunner(recordingRunner(calls));
    pointAtSimulator();
    edit("targetIpEdit")->setText(QStringLiteral("127.000.000.001"));
    edit("imagePathEdit")->setText(QStringLiteral("/some/image.bin"));

    for (int type = 0; type < 4; ++type) {
        choose(type);
        if (type < 2) {
            edit("macEdit")->setText(QStringLiteral("00A1B2C3D4E5"));
            edit("serialEdit")->setText(QStringLiteral("4294967295"));
            box("autoIncreaseBox")->setChecked(true);
        }
        calls = {};
        child<QPushButton>("downloadButton")->click();
        ASSERT_EQ(calls.types, std::vector<DownloadType>{static_cast<DownloadType>(type)});
        EXPECT_EQ(calls.inputs.target.address, "127.0.0.1");
        EXPECT_EQ(calls.inputs.target.port, m_sim->port());
        EXPECT_EQ(calls.inputs.imagePath, "/some/image.bin");
        if (type < 2) {
            const UnitIdentity& identity = calls.inputs.identity;
            EXPECT_EQ(identity.macText, "00A1B2C3D4E5");
            EXPECT_EQ(identity.serialNumber, 4294967295u);
            EXPECT_TRUE(identity.sendMac);
            EXPECT_TRUE(identity.sendSerial);
            EXPECT_TRUE(identity.autoIncrease);
        }
    }
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(UpgradeWindowTest, IndividualDataWithBothBoxesClearedDoesNothing)
{
    pointAtSimulator();
    choose(DownloadType::IndividualData);
    box("macBox")->click();
    box("serialBox")->click();

    child<QPushButton>("downloadButton")->click();
    EXPECT_FALSE(simulatorSawConnection());
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(UpgradeWindowTest, AdvancedMacIsWrittenBack)
{
    DownloadCalls calls;
    RoutineOutcome outcome;
    outcome.succeeded = true;
    outcome.advancedMac = "00A1B2C3D4E6";
    m_window->setDownloadRunner(recordingRunner(calls, outcome));
    pointAtSimulator();
    choose(DownloadType::IndividualData);
    edit("macEdit")->setText(QStringLiteral("00A1B2C3D4E5"));

    child<QPushButton>("downloadButton")->click();
    EXPECT_EQ(edit("macEdit")->text(), QStringLiteral("00A1B2C3D4E6"));
}

TEST_F(UpgradeWindowTest, BrowseSetsTheImagePathAndCancelKeepsIt)
{
    edit("imagePathEdit")->setText(QStringLiteral("/before"));
    m_prompter.openFiles = {QString(), QStringLiteral("/chosen/image.img")};
    auto* browse = child<QPushButton>("browseButton");
    browse->click();
    EXPECT_EQ(edit("imagePathEdit")->text(), QStringLiteral("/before"));
    browse->click();
    EXPECT_EQ(edit("imagePathEdit")->text(), QStringLiteral("/chosen/image.img"));
    EXPECT_EQ(m_prompter.fileFilters,
              (QStringList{QStringLiteral("All files (*)"), QStringLiteral("All files (*)")}));
}

TEST_F(UpgradeWindowTest, EditingPtzDataTakesThePathTheEditorHandsBack)
{
    std::deque<std::optional<QString>> answers{std::nullopt, QStringLiteral("/ptz/image.bin")};
    m_window->setPtzEditor([&] {
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    });
    edit("imagePathEdit")->setText(QStringLiteral("/before"));
    radio(3)->click();
    auto* button = child<QPushButton>("editPtzButton");
    button->click();
    EXPECT_EQ(edit("imagePathEdit")->text(), QStringLiteral("/before"));
    button->click();
    EXPECT_EQ(edit("imagePathEdit")->text(), QStringLiteral("/ptz/image.bin"));
}

TEST_F(UpgradeWindowTest, AboutShowsTheProgramLine)
{
    QString title, line;
    QTimer::singleShot(0, [&] {
        (void)QTest::qWaitFor(
            [] { return qobject_cast<AboutWindow*>(QApplication::activeModalWidget()); });
        auto* about = qobject_cast<AboutWindow*>(QApplication::activeModalWidget());
        if (!about)
            return;
        title = about->windowTitle();
        if (auto* label = about->findChild<QLabel*>(QStringLiteral("aboutVersionLine")))
            line = label->text();
        about->findChild<QPushButton*>(QStringLiteral("aboutOkButton"))->click();
    });
    m_window->findChild<QAction*>(QStringLiteral("aboutAction"))->trigger();
    EXPECT_EQ(title, QStringLiteral("Quenlar Information"));
    EXPECT_EQ(line, QStringLiteral("Quenlar Ver 1.3"));
}

TEST_F(UpgradeWindowTest, ApplicationImageGoesEndToEndByteForByte)
{
    const std::string path = writeApplicationImage("3.5.2");
    m_prompter.openFiles = {QString::fromStdString(path)};
    pointAtSimulator();
    child<QPushButton>("browseButton")->click();
    ASSERT_EQ(edit("imagePathEdit")->text(), QString::fromStdString(path));

    pressDownload();

    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join('\n').toStdString();
    ASSERT_TRUE(m_sim->waitForTransfers(2, 5s));
    const auto received = m_sim->transfers();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].typeCode, 0x55AB0009u);
    // 3.5.2 is ((3 * 256 + 5) * 256 + 2) * 256 = 0x03050200, least significant byte first.
    EXPECT_EQ(received[0].payload, (std::vector<std::uint8_t>{0x00, 0x02, 0x05, 0x03}));
    EXPECT_EQ(received[1].typeCode, 0x55AB0003u);
    EXPECT_EQ(received[1].payload, test::readFileBytes(path));
}

TEST_F(UpgradeWindowTest, EnterSendsThePtzImage)
{
    const std::vector<std::uint8_t> image = test::validPtzImageBytes();
    const std::string path = m_dir.file("ptz.bin");
    test::writeFileBytes(path, image);

    pointAtSimulator();
    radio(3)->click();
    edit("imagePathEdit")->setText(QString::fromStdString(path));
    m_window->show();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    ASSERT_EQ(edit("targetIpEdit")->text(), QStringLiteral("127.0.0.1"));
    QTest::keyClick(edit("imagePathEdit"), Qt::Key_Return);

    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join('\n').toStdString();
    ASSERT_TRUE(m_sim->waitForTransfers(1, 5s));
    const auto received = m_sim->transfers();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].typeCode, 0x55AB0008u);
    EXPECT_EQ(received[0].payload, image);
    EXPECT_TRUE(m_window->isVisible());
}

TEST(UpgradeAppTest, SocketLayerStartIgnoresSigpipe)
{
    ASSERT_TRUE(UpgradeApp::initSocketLayer());
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
}

} // namespace
} // namespace tolvane
