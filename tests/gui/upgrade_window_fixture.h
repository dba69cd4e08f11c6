#pragma once

// The main window over the in-process simulator on loopback, with the helpers its tests share.

#include "gui/about_window.h"
#include "gui/scripted_prompter.h"
#include "gui/upgrade_app.h"
#include "gui/upgrade_window.h"
#include "sim/simulator.h"
#include "support/deadlines.h"
#include "support/firmware_image.h"
#include "support/loopback_simulator.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>

namespace tolvane::upgrade_window_test {

using namespace std::chrono_literals;
using test::ScriptedPrompter;

inline const QString wrongNumber = QStringLiteral("There is a wrong number. Please, enter again.");

class UpgradeWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim = std::make_unique<sim::Simulator>(test::loopbackOptions());
        ASSERT_TRUE(test::startSimulator(*m_sim));
        m_window = std::make_unique<UpgradeWindow>(m_prompter);
        m_window->setDownloadDeadlines(test::simulatorDeadlines());
    }

    template <typename T> T* child(const char* name) const
    {
        T* widget = m_window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* edit(const char* name) const { return child<QLineEdit>(name); }
    QCheckBox* box(const char* name) const { return child<QCheckBox>(name); }
    QRadioButton* radio(int type) const
    {
        static const char* names[] = {"integratedRadio", "individualDataRadio",
                                      "applicationImageRadio", "ptzImageRadio"};
        return child<QRadioButton>(names[type]);
    }
    // The two disabled types can only be chosen by a test.
    void choose(int type) const
    {
        radio(type)->setEnabled(true);
        radio(type)->click();
    }
    void choose(DownloadType type) const { choose(static_cast<int>(type)); }
    // Every test that presses Download points the window at the simulator first.
    void pointAtSimulator() const
    {
        edit("targetIpEdit")->setText(QStringLiteral("127.0.0.1"));
        edit("targetPortEdit")->setText(QString::number(m_sim->port()));
    }
    void pressDownload() const
    {
        ASSERT_EQ(edit("targetIpEdit")->text(), QStringLiteral("127.0.0.1"));
        child<QPushButton>("downloadButton")->click();
    }
    bool simulatorSawConnection() const { return m_sim->waitForTransfers(1, 100ms); }

    std::string writeApplicationImage(const std::string& version = "3.5.2") const
    {
        const std::string path = m_dir.file("app.img");
        test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
            .version(version)
            .writeTo(path);
        return path;
    }

    test::TempDir m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<UpgradeWindow> m_window;
};

} // namespace tolvane::upgrade_window_test
