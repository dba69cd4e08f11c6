#include "transfer/worker_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace worker_test;
using namespace std::chrono_literals;

TEST(DownloadWorkerDeadline, ConnectGivesUpAtItsDeadline)
{
    // A listener with a full queue of one unaccepted connection drops further SYNs, so the next
    // connection attempt hangs.
    std::uint16_t port = 0;
    const int listener = test::bindLoopback(port, 0);
    const int filler = test::connectToLoopback(port);
    ASSERT_GE(filler, 0);

    const Bytes payload(8, 1);
    DownloadJob job = test::makeJob(port, TypeCode::MacAddress, payload);
    job.deadlines.connect = ShortDeadline;
    const Outcome outcome = runJob(job);
    ::close(filler);
    ::close(listener);

    EXPECT_EQ(outcome.events, (Strings{"error 2"}));
    EXPECT_GE(outcome.elapsed, ShortDeadline);
    EXPECT_LT(outcome.elapsed, ShortDeadline + Slack);
}

struct SilentPeerCase {
    const char* name;
    std::uint32_t typeCode;
    Bytes payload;
    std::size_t wordsAnswered; // type answer, size echo, first acknowledgement
    Strings events;
    const char* waitStartsAfter; // the notification before the wait, or nullptr for the start
};

void PrintTo(const SilentPeerCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadWorkerReplyDeadline : public ::testing::TestWithParam<SilentPeerCase> {};

const SilentPeerCase SilentPeerCases[] = {
    {"TypeAnswer", TypeCode::PtzImage, Bytes(10, 1), 0, {"error 3"}, nullptr},
    {"SizeEcho", TypeCode::PtzImage, Bytes(10, 1), 1, {"error 5"}, nullptr},
    {"CompatibilityAnswer",
     TypeCode::FirmwareVersion,
     Bytes(4, 1),
     2,
     {"stage 2", "progress 100", "error 8"},
     "progress 100"},
    {"FirstAcknowledgement",
     TypeCode::PtzImage,
     Bytes(10, 1),
     2,
     {"stage 2", "progress 100", "error 8"},
     "progress 100"},
};

TEST_P(DownloadWorkerReplyDeadline, FiresWithinItsBound)
{
    const SilentPeerCase& c = GetParam();
    const Bytes replies[] = {word(typeAnswerFor(c.typeCode)),
                             word(static_cast<std::uint32_t>(c.payload.size()))};
    std::vector<ScriptedPeer::Step> script{ScriptedPeer::read(4)};
    for (std::size_t i = 0; i < c.wordsAnswered; ++i) {
        script.push_back(ScriptedPeer::write(replies[i]));
        script.push_back(ScriptedPeer::read(i == 0 ? 4 : c.payload.size()));
    }
    ScriptedPeer peer(std::move(script));
    DownloadJob job = test::makeJob(peer.port(), c.typeCode, c.payload);
    job.deadlines.reply = ShortDeadline;
    const Outcome outcome = runJob(job);

    EXPECT_EQ(outcome.events, c.events);
    const auto waited = outcome.toLastEvent(outcome.lastAt(c.waitStartsAfter));
    EXPECT_GE(waited, ShortDeadline);
    EXPECT_LT(waited, ShortDeadline + Slack);
}

INSTANTIATE_TEST_SUITE_P(Replies, DownloadWorkerReplyDeadline, ::testing::ValuesIn(SilentPeerCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(DownloadWorkerDeadline, SendStallEndsTheTransfer)
{
    sim::Simulator simulator(loopbackOptions(sim::Fault::StopReadingMidPayload));
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(MidPayloadSize);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload);
    job.deadlines.sendStall = ShortDeadline;
    const Outcome outcome = runJob(job);

    EXPECT_EQ(withoutProgress(outcome.events), (Strings{"stage 2", "error 7"}));
    // Timed from the last chunk the peer took, so the megabytes it read before do not count.
    const auto stalled = outcome.toLastEvent(outcome.lastProgressAt());
    EXPECT_GE(stalled, ShortDeadline);
    EXPECT_LT(stalled, ShortDeadline + Slack);
}

TEST(DownloadWorkerDeadline, SecondAcknowledgementWaitGrowsWithThePayload)
{
    // 3 MiB at 150 ms per started MiB is 450 ms, more than the 200 ms minimum.
    auto options = loopbackOptions();
    options.writeTime = 30s;
    sim::Simulator simulator(options);
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(3 * 1024 * 1024);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::IntegratedImage, payload);
    job.deadlines.writeMinimum = ShortDeadline;
    job.deadlines.writePerMiB = 150ms;
    const Outcome outcome = runJob(job);

    EXPECT_EQ(withoutProgress(outcome.events), (Strings{"stage 2", "stage 4", "error 8"}));
    // Timed from stage 4, after the 3 MiB went out.
    const auto waited = outcome.toLastEvent(outcome.lastAt("stage 4"));
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 450ms + Slack);
}

TEST(DownloadWorkerDeadline, SecondAcknowledgementWaitsAtLeastTheMinimum)
{
    auto options = loopbackOptions();
    options.writeTime = 30s;
    sim::Simulator simulator(options);
    ASSERT_TRUE(simulator.start());
    const Bytes payload(12, 3);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::MacAndSerial, payload);
    job.deadlines.writeMinimum = ShortDeadline;
    job.deadlines.writePerMiB = 10ms;
    const Outcome outcome = runJob(job);

    EXPECT_EQ(outcome.events, (Strings{"stage 2", "progress 100", "stage 4", "error 8"}));
    const auto waited = outcome.toLastEvent(outcome.lastAt("stage 4"));
    EXPECT_GE(waited, ShortDeadline);
    EXPECT_LT(waited, ShortDeadline + Slack);
}

// Stage 5 may end the window that owns the job, so the worker must have read all it needs of the
// job before posting it: this observer clears the pause of the job it is given as stage 5 comes.
class JobClobberingObserver : public RecordingObserver {
public:
    explicit JobClobberingObserver(DownloadJob* job) : m_job(job) {}
    void stage(int stage) override
    {
        RecordingObserver::stage(stage);
        if (stage == 5 && m_job != nullptr)
            m_job->deadlines.completionPause = 0ms;
    }

private:
    DownloadJob* m_job;
};

// A transfer to the simulator with a 300 ms completion pause ends with stage 5, and the pause
// follows it; with clobberAtStageFive the observer clears the job's pause as stage 5 comes.
void expectPauseAfterStageFive(std::uint32_t typeCode, const Bytes& payload,
                               bool clobberAtStageFive)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    DownloadJob job = test::makeJob(simulator.port(), typeCode, payload);
    job.deadlines.completionPause = 300ms;
    JobClobberingObserver observer(clobberAtStageFive ? &job : nullptr);
    const Outcome outcome = runJob(job, observer);
    ASSERT_FALSE(outcome.events.empty());
    EXPECT_EQ(outcome.events.back(), "stage 5");
    EXPECT_GE(outcome.returned - outcome.lastAt("stage 5"), 300ms);
}

TEST(DownloadWorkerDeadline, CompletionPauseFollowsStageFive)
{
    expectPauseAfterStageFive(TypeCode::MacAddress, Bytes(8, 1), false);
}

TEST(DownloadWorkerDeadline, CompletionPauseIsTakenBeforeStageFive)
{
    expectPauseAfterStageFive(TypeCode::SerialNumber, Bytes(4, 2), true);
}

// --- The recorder's words as literal bytes
// -------------------------------------------------------------------------------------

TEST(DownloadDeadlines, DefaultsSuitARealRecorder)
{
    const DownloadJob job;
    const DownloadDeadlines& d = job.deadlines;
    EXPECT_EQ(d.connect, 10s);
    EXPECT_EQ(d.reply, 30s);
    EXPECT_EQ(d.sendStall, 30s);
    EXPECT_EQ(d.writeMinimum, 5min);
    EXPECT_EQ(d.writePerMiB, 40s);
    EXPECT_EQ(d.completionPause, 500ms); // the closing pause after the transfer is complete
    EXPECT_FALSE(job.chunkSizeOverride);
}

// Reads exactly `count` bytes from a blocking socket; false on end of stream, error or time-out.
bool readExactly(int fd, std::size_t count)
{
    std::uint8_t buffer[64];
    while (count > 0) {
        const ssize_t n = ::recv(fd, buffer, std::min(count, sizeof buffer), 0);
        if (n <= 0)
            return false;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeBytes(int fd, const Bytes& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

TEST(DownloadWorkerDeadline, DefaultJobHoldsTheConnectionForTheClosingPause)
{
    std::uint16_t port = 0;
    const int listener = test::bindLoopback(port, 1);

    const Bytes version = {0x00, 0x02, 0x07, 0x03};
    DownloadJob job = test::makeJob(port, 0x55AB0009, version);
    job.deadlines = DownloadDeadlines{};
    Outcome outcome;
    std::thread worker([&] { outcome = runJob(job); });

    // Plays the recorder: answers the handshake, acknowledges, then waits for the tool to hang up.
    bool answered = false;
    Clock::time_point acknowledged;
    Clock::time_point hungUp;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd >= 0) {
        const timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        answered = readExactly(fd, 4) && writeBytes(fd, {0xAB, 0x55, 0x00, 0x09}) &&
                   readExactly(fd, 4) && writeBytes(fd, {0x00, 0x00, 0x00, 0x04}) &&
                   readExactly(fd, 4) && writeBytes(fd, AcknowledgementWord);
        acknowledged = Clock::now();
        std::uint8_t byte = 0;
        const bool closed = answered && ::recv(fd, &byte, 1, 0) == 0;
        hungUp = Clock::now();
        answered = closed;
        ::close(fd);
    }
    worker.join();
    ::close(listener);

    ASSERT_TRUE(answered) << "the tool did not complete the exchange and hang up";
    EXPECT_EQ(outcome.events, (Strings{"stage 2", "progress 100", "stage 5"}));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_GE(hungUp - acknowledged, 500ms);
    EXPECT_LT(hungUp - acknowledged, 500ms + 2s);
    EXPECT_GE(outcome.returned - outcome.lastAt("stage 5"), 500ms);
}

} // namespace
} // namespace tolvane
