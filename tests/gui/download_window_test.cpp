#include "core/transfer/wire_words.h"
#include "gui/download_window.h"
#include "gui/scripted_prompter.h"
#include "sim/simulator.h"
#include "support/deadlines.h"
#include "support/loopback_simulator.h"
#include "support/transfer_test_support.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <system_error>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPrompter;

const QString downloading = QStringLiteral("Downloading...");
const QString dontDisconnect = QStringLiteral("Don't disconnect a network for downloading.");
const QString finished = QStringLiteral("Download finished. !!!");
const QString writing = QStringLiteral("Now, Writing a image.");
const QString pleaseWait = QStringLiteral("Please wait until download is complete.");

// What the window showed after one handled notification.
struct Shown {
    QString top, middle, bottom;
    int progress;
    bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Shown& s)
{
    return os << '[' << s.top.toStdString() << '|' << s.middle.toStdString() << '|'
              << s.bottom.toStdString() << '|' << s.progress << ']';
}

// Logs the lines and the bar after every notification, and lets a test act at that moment.
class LoggingWindow : public DownloadWindow {
public:
    using DownloadWindow::DownloadWindow;

    std::vector<Shown> log;
    std::function<void(LoggingWindow&)> onNotification;
    bool failThreadStart = false;
    // When set, the worker waits for it before it ends (at most 10 s, so a fault cannot hang).
    std::shared_future<void> holdWorker;

protected:
    void notificationHandled() override
    {
        log.push_back({topLine(), middleLine(), bottomLine(), progressValue()});
        if (onNotification)
            onNotification(*this);
    }
    QThread* makeThread(std::function<void()> body) override
    {
        if (failThreadStart)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        if (!holdWorker.valid())
            return DownloadWindow::makeThread(std::move(body));
        // Held after its last notification, before its thread finishes.
        return DownloadWindow::makeThread([body = std::move(body), hold = holdWorker] {
            body();
            hold.wait_for(10s);
        });
    }
};

// What a window shows for an image small enough for one loopback segment.
std::vector<Shown> imageTransferShown()
{
    return {
        {"", downloading, dontDisconnect, 0},   // stage 2
        {"", downloading, dontDisconnect, 100}, // all taken
        {finished, writing, pleaseWait, 100},   // stage 4
        {finished, writing, pleaseWait, 100},   // stage 5
    };
}

// The longest time the event loop went without turning, sampled by a 10 ms timer from its
// construction until longestGap().
class LoopGapMeter {
public:
    LoopGapMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }
    std::chrono::milliseconds longestGap()
    {
        tick();
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_longest);
    }

private:
    void tick()
    {
        const auto now = std::chrono::steady_clock::now();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration m_longest{};
};

// What a screen reader is told about a widget.
QString accessibleText(QWidget* widget, QAccessible::Text kind)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QStringLiteral("<no interface>");
}

std::vector<std::uint8_t> patternBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    return bytes;
}

class DownloadWindowTest : public ::testing::Test {
protected:
    void startSimulator(sim::SimulatorOptions options = test::loopbackOptions())
    {
        m_sim = std::make_unique<sim::Simulator>(options);
        ASSERT_TRUE(test::startSimulator(*m_sim));
    }

    DownloadJob job(std::uint32_t typeCode, const std::vector<std::uint8_t>& payload) const
    {
        DownloadJob j = test::makeJob(m_sim ? m_sim->port() : m_refusing.port(), typeCode, payload);
        j.deadlines = test::simulatorDeadlines();
        return j;
    }

    ScriptedPrompter m_prompter;
    std::unique_ptr<sim::Simulator> m_sim;
    test::UnusedPort m_refusing; // the target when no simulator runs
};

TEST_F(DownloadWindowTest, ImageTransferShowsStageTextsInOrderAndEndsWithOk)
{
    startSimulator();
    const auto payload = patternBytes(10'000);
    // One loopback segment: the recorder has taken none of it or all of it.
    LoggingWindow window(job(TypeCode::ApplicationImage, payload), m_prompter);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Download"));
    EXPECT_EQ(
        (Shown{window.topLine(), window.middleLine(), window.bottomLine(), window.progressValue()}),
        (Shown{"", "", "", 0}));
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowSystemMenuHint);

    EXPECT_EQ(window.exec(), QDialog::Accepted);

    EXPECT_EQ(window.log, imageTransferShown());
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join('\n').toStdString();
    EXPECT_FALSE(window.isVisible());

    ASSERT_TRUE(m_sim->waitForTransfers(1, 5s));
    const auto received = m_sim->transfers();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].typeCode, 0x55AB0003u);
    EXPECT_EQ(received[0].payload, payload);
}

TEST_F(DownloadWindowTest, AcceptedCompatibilityCheckNeverShowsTheWritingTexts)
{
    startSimulator();
    const std::vector<std::uint8_t> version{0x00, 0x02, 0x05, 0x03};
    LoggingWindow window(job(TypeCode::FirmwareVersion, version), m_prompter);

    EXPECT_EQ(window.exec(), QDialog::Accepted);
    const std::vector<Shown> expected{
        {"", downloading, dontDisconnect, 0},
        {"", downloading, dontDisconnect, 100},
        {"", downloading, dontDisconnect, 100},
    };
    EXPECT_EQ(window.log, expected);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

struct ErrorCase {
    const char* name;
    std::uint32_t typeCode;
    sim::Fault fault;
    bool listening;
    const char* message;
    bool writingShown; // the recorder had the whole payload before it failed
};

class DownloadWindowErrorTest : public DownloadWindowTest,
                                public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(DownloadWindowErrorTest, ShowsTheErrorsMessageOnceAndEndsWithCancel)
{
    const ErrorCase& c = GetParam();
    if (c.listening) {
        startSimulator(test::loopbackOptions(c.fault));
    } else {
        ASSERT_NE(m_refusing.port(), 0);
    }
    const auto payload = patternBytes(c.typeCode == TypeCode::FirmwareVersion ? 4 : 3000);
    DownloadJob j = job(c.typeCode, payload);
    LoggingWindow window(j, m_prompter);

    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(m_prompter.messages, QStringList{QString::fromLatin1(c.message)});
    ASSERT_FALSE(window.log.empty());
    const bool writingShown = std::any_of(window.log.begin(), window.log.end(),
                                          [](const Shown& s) { return s.middle == writing; });
    EXPECT_EQ(writingShown, c.writingShown);
    // The box names the recorder and, for a connection, the system's reason.
    ASSERT_EQ(m_prompter.details.size(), 1);
    EXPECT_TRUE(m_prompter.details[0].contains(QStringLiteral("127.0.0.1:%1").arg(j.port)))
        << m_prompter.details[0].toStdString();
    EXPECT_EQ(m_prompter.severities, std::vector{Prompter::Severity::Warning});
    if (!c.listening) {
        EXPECT_EQ(window.log.size(), 1u) << "no stage before a failed connection";
        EXPECT_TRUE(m_prompter.details[0].endsWith(QStringLiteral(": Connection refused")))
            << m_prompter.details[0].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, DownloadWindowErrorTest,
    ::testing::Values(ErrorCase{"NothingListening", TypeCode::ApplicationImage, sim::Fault::None,
                                false, "Can't connect to the machine.", false},
                      ErrorCase{"Refusal", TypeCode::FirmwareVersion, sim::Fault::Refuse, true,
                                "The firmware is Incompatible with the DVR.", false},
                      ErrorCase{"RefusalAfterImage", TypeCode::ApplicationImage, sim::Fault::Refuse,
                                true, "Can't write a firmware.", false},
                      ErrorCase{"WrongTypeAnswer", TypeCode::PtzImage, sim::Fault::WrongTypeAnswer,
                                true, "It is not a DVR machine.", false},
                      ErrorCase{"SizeEchoOffByOne", TypeCode::MacAddress,
                                sim::Fault::SizeEchoOffByOne, true, "Can't check the image size.",
                                false},
                      ErrorCase{"CloseAfterFirstAck", TypeCode::ApplicationImage,
                                sim::Fault::CloseAfterFirstAck, true, "Can't write a firmware.",
                                true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DownloadWindowTest, SwallowedKeysNeitherEndNorChangeTheWindow)
{
    sim::SimulatorOptions options = test::loopbackOptions();
    options.writeTime = 300ms; // holds the transfer between the two acknowledgements
    startSimulator(options);
    const auto payload = patternBytes(5000);
    LoggingWindow window(job(TypeCode::ApplicationImage, payload), m_prompter);

    bool pressed = false;
    window.onNotification = [&](LoggingWindow& w) {
        if (pressed || w.middleLine() != writing)
            return;
        pressed = true;
        const Shown before{w.topLine(), w.middleLine(), w.bottomLine(), w.progressValue()};
        auto* bar = w.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(bar)}) {
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Space);
            QTest::keyClick(target, Qt::Key_F4);
            QTest::keyClick(target, Qt::Key_F4, Qt::AltModifier);
        }
        w.close();
        static_cast<QDialog&>(w).reject();
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ((Shown{w.topLine(), w.middleLine(), w.bottomLine(), w.progressValue()}), before);
    };

    EXPECT_EQ(window.exec(), QDialog::Accepted);
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(DownloadWindowTest, WorkerStillRunningAtCloseIsReportedAndStillJoined)
{
    startSimulator();
    const auto payload = patternBytes(100);
    const QString notEnded =
        QStringLiteral("It was occured a error during the network connection termination.");
    // The worker is held after its last notification until the message has been shown.
    class ReleasingPrompter : public ScriptedPrompter {
    public:
        using ScriptedPrompter::showMessage;
        void showMessage(QWidget* parent, const QString& text, const QString& detail,
                         Severity severity) override
        {
            ScriptedPrompter::showMessage(parent, text, detail, severity);
            if (!released) {
                released = true;
                release.set_value();
            }
        }
        std::promise<void> release;
        bool released = false;
    } prompter;
    LoggingWindow window(job(TypeCode::SerialNumber, payload), prompter);
    window.holdWorker = prompter.release.get_future().share();
    window.setWorkerEndWait(150ms);

    LoopGapMeter meter;
    EXPECT_EQ(window.exec(), QDialog::Accepted);
    EXPECT_EQ(prompter.messages, QStringList{notEnded});
    EXPECT_LE(meter.longestGap(), 100ms) << "the wait for the worker froze the window";
    // exec() returned only after the worker closed its socket.
    ASSERT_TRUE(m_sim->waitForTransfers(1, 5s));
    EXPECT_EQ(m_sim->transfers()[0].outcome, "ok");
}

TEST_F(DownloadWindowTest, EventLoopKeepsTurningThroughTheClosingPause)
{
    startSimulator();
    const auto payload = patternBytes(10'000);
    DownloadJob j = job(TypeCode::ApplicationImage, payload);
    j.deadlines.completionPause = 300ms;
    LoggingWindow window(j, m_prompter);
    std::chrono::steady_clock::time_point lastShown;
    bool shownDuringPause = false;
    window.onNotification = [&](LoggingWindow& w) {
        lastShown = std::chrono::steady_clock::now();
        if (w.log.size() == 4) // stage 5: the worker now sits out its pause
            QTimer::singleShot(150ms, &w, [&] { shownDuringPause = w.isVisible(); });
    };

    LoopGapMeter meter;
    EXPECT_EQ(window.exec(), QDialog::Accepted);
    const auto returned = std::chrono::steady_clock::now();

    // Below the 300 ms pause, so a window that sat the pause out in a join fails, with room for
    // a loaded machine's scheduling.
    EXPECT_LT(meter.longestGap(), 250ms);
    EXPECT_GE(returned - lastShown, 250ms) << "OK before the worker sat out its pause";
    EXPECT_TRUE(shownDuringPause);
    EXPECT_EQ(window.log, imageTransferShown());
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}

TEST_F(DownloadWindowTest, LoopEndedFromOutsideStillWaitsForTheWorker)
{
    startSimulator();
    const auto payload = patternBytes(10'000);
    LoggingWindow window(job(TypeCode::ApplicationImage, payload), m_prompter);
    std::promise<void> release;
    window.holdWorker = release.get_future().share();
    std::chrono::steady_clock::time_point hidden;
    window.onNotification = [&](LoggingWindow& w) {
        if (w.log.size() != 1)
            return;
        hidden = std::chrono::steady_clock::now();
        w.hide(); // ends the dialog's own loop
        QTimer::singleShot(200ms, Qt::PreciseTimer, [&] { release.set_value(); });
    };

    EXPECT_EQ(window.exec(), QDialog::Accepted);
    EXPECT_GE(std::chrono::steady_clock::now() - hidden, 190ms);
    EXPECT_EQ(window.log, imageTransferShown());
}

TEST_F(DownloadWindowTest, WindowDestroyedWhileTheWorkerRunsLeavesTheThreadToEndAlone)
{
    startSimulator();
    const auto payload = patternBytes(10'000);
    std::promise<void> release;
    auto* window = new LoggingWindow(job(TypeCode::ApplicationImage, payload), m_prompter);
    window->holdWorker = release.get_future().share();
    window->onNotification = [](LoggingWindow& w) {
        if (w.log.size() == 1)
            w.deleteLater();
    };

    // The worker is held until exec() returns: a window that waited for it would sit out the
    // hold's ten seconds.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(window->exec(), QDialog::Rejected);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    release.set_value();
    ASSERT_TRUE(m_sim->waitForTransfers(1, 5s));
    EXPECT_EQ(m_sim->transfers()[0].outcome, "ok");
    QTest::qWait(50); // the finished thread deletes itself
}

TEST_F(DownloadWindowTest, ScreenReadersReadTheStatusLinesByTheirTexts)
{
    startSimulator();
    const auto payload = patternBytes(100);
    LoggingWindow window(job(TypeCode::ApplicationImage, payload), m_prompter);
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(accessibleText(bar, QAccessible::Name), QStringLiteral("Progress"));

    QStringList read[3];
    window.onNotification = [&](LoggingWindow& w) {
        int i = 0;
        for (const char* name : {"topLine", "middleLine", "bottomLine"})
            read[i++] << accessibleText(w.findChild<QLabel*>(QString::fromLatin1(name)),
                                        QAccessible::Name);
    };
    EXPECT_EQ(window.exec(), QDialog::Accepted);

    // Stage 2, progress 100, stage 4, stage 5: each line is read as it is shown.
    EXPECT_EQ(read[0], (QStringList{"", "", finished, finished}));
    EXPECT_EQ(read[1], (QStringList{downloading, downloading, writing, writing}));
    EXPECT_EQ(read[2], (QStringList{dontDisconnect, dontDisconnect, pleaseWait, pleaseWait}));
}

TEST_F(DownloadWindowTest, ThreadThatCannotStartGivesAMessageAndCancel)
{
    startSimulator();
    const auto payload = patternBytes(10);
    LoggingWindow window(job(TypeCode::MacAddress, payload), m_prompter);
    window.failThreadStart = true;

    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("Can't start the download.")});
    EXPECT_TRUE(window.log.empty());
    EXPECT_FALSE(m_sim->waitForTransfers(1, 100ms));
}

} // namespace
} // namespace tolvane
