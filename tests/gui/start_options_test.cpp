// The desktop program's command line: what it fills into the main window, and what it refuses.
#include "upgrade_window_fixture.h"

namespace tolvane::upgrade_window_test {
namespace {

struct CommandLineRow {
    QStringList args; // after the program name
    int exitStatus;
    bool opensWindow;
    std::string address = ""; // "" when no --target
    int port = 0;
    QString image = QString();
    QString textHas = QString(); // in what is printed
};

class ReadCommandLine : public ::testing::TestWithParam<CommandLineRow> {};

TEST_P(ReadCommandLine, FillsOrRefuses)
{
    const CommandLineRow& row = GetParam();
    const CommandLine line = readCommandLine(QStringList{QStringLiteral("tolvane")} + row.args);
    EXPECT_EQ(line.exitStatus, row.exitStatus) << line.text.toStdString();
    ASSERT_EQ(line.options.has_value(), row.opensWindow) << line.text.toStdString();
    EXPECT_TRUE(line.text.contains(row.textHas)) << line.text.toStdString();
    if (!row.opensWindow)
        return;
    EXPECT_EQ(line.options->target.has_value(), !row.address.empty());
    if (line.options->target) {
        EXPECT_EQ(line.options->target->address, row.address);
        EXPECT_EQ(line.options->target->port, row.port);
    }
    EXPECT_EQ(line.options->imagePath.value_or(QString()), row.image);
}

const QString target = QStringLiteral("--target");

INSTANTIATE_TEST_SUITE_P(
    Table, ReadCommandLine,
    ::testing::Values(
        CommandLineRow{{}, 0, true},
        CommandLineRow{
            {target, "127.0.0.1:7001", "/x/app.bin"}, 0, true, "127.0.0.1", 7001, "/x/app.bin"},
        CommandLineRow{{"--target=10.0.0.2"}, 0, true, "10.0.0.2", 5000},
        CommandLineRow{{"--record", "r.db", "app.bin"}, 0, true, "", 0, "app.bin"},
        CommandLineRow{{"--help"}, 0, false, "", 0, {}, "--target <HOST[:PORT]>"},
        CommandLineRow{{"--version"}, 0, false, "", 0, {}, "tolvane 3."},
        CommandLineRow{{target, "127.0.0.1:0"}, 2, false, "", 0, {}, "tolvane: bad --target"},
        CommandLineRow{{target, "127.0.0.256"}, 2, false, "", 0, {}, "tolvane: bad --target"},
        CommandLineRow{{target, "dvr.local"}, 2, false, "", 0, {}, "tolvane: bad --target"},
        CommandLineRow{{target}, 2, false, "", 0, {}, "tolvane: "},
        CommandLineRow{{"a.bin", "b.bin"}, 2, false, "", 0, {}, "one image path"},
        CommandLineRow{{"--bogus"}, 2, false, "", 0, {}, "bogus"},
        // The toolkit's own options are left to it, in both spellings and both forms.
        CommandLineRow{{"-platform", "offscreen", "-reverse", "--style=Fusion", "app.bin"},
                       0,
                       true,
                       "",
                       0,
                       "app.bin"},
        CommandLineRow{{"--platform", "xcb", target, "127.0.0.1", "-qwindowtitle", "T"},
                       0,
                       true,
                       "127.0.0.1",
                       5000},
        // After "--" everything is an image path, dashes included.
        CommandLineRow{{"--", "-reverse"}, 0, true, "", 0, "-reverse"}));

TEST_F(UpgradeWindowTest, StartOptionsFillTheFieldsDownloadSends)
{
    applyStartOptions(*m_window, {});
    EXPECT_EQ(edit("targetIpEdit")->text(), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(edit("targetPortEdit")->text(), QStringLiteral("5000"));
    EXPECT_EQ(edit("imagePathEdit")->text(), QString());

    const std::string path = writeApplicationImage();
    StartOptions options;
    options.target = DownloadTarget{"127.0.0.1", m_sim->port()};
    options.imagePath = QString::fromStdString(path);
    applyStartOptions(*m_window, options);
    pressDownload();

    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join('\n').toStdString();
    ASSERT_TRUE(m_sim->waitForTransfers(2, 5s));
    EXPECT_EQ(m_sim->transfers().at(1).payload, test::readFileBytes(path));
}

} // namespace
} // namespace tolvane::upgrade_window_test
