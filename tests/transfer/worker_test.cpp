#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"
#include "support/transfer_test_support.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using test::RecordingObserver;
using test::ScriptedPeer;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr auto SimulatorWait = 5s;

sim::SimulatorOptions loopbackOptions(sim::Fault fault = sim::Fault::None)
{
    sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.fault = fault;
    return options;
}

using Clock = RecordingObserver::Clock;

struct Outcome {
    int result = -1;
    Strings events;
    std::vector<RecordingObserver::Event> timed;
    Clock::time_point started;
    Clock::time_point returned;
    std::chrono::milliseconds elapsed{0};

    // When the last notification `text` came; the start of run() when there is none, or for
    // nullptr.
    Clock::time_point lastAt(const char* text) const
    {
        for (auto event = timed.rbegin(); text != nullptr && event != timed.rend(); ++event)
            if (event->text == text)
                return event->at;
        return started;
    }
    // When the last progress notification came, or the start of run().
    Clock::time_point lastProgressAt() const
    {
        for (auto event = timed.rbegin(); event != timed.rend(); ++event)
            if (event->text.rfind("progress ", 0) == 0)
                return event->at;
        return started;
    }
    // From `from` to the last notification (the error of a failed run).
    std::chrono::milliseconds toLastEvent(Clock::time_point from) const
    {
        const Clock::time_point end = timed.empty() ? returned : timed.back().at;
        return std::chrono::duration_cast<std::chrono::milliseconds>(end - from);
    }
};

Outcome runJob(const DownloadJob& job, RecordingObserver& observer)
{
    Outcome outcome;
    outcome.started = Clock::now();
    outcome.result = DownloadWorker(job, observer).run();
    outcome.returned = Clock::now();
    outcome.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(outcome.returned - outcome.started);
    outcome.timed = observer.timedEvents();
    outcome.events = observer.events();
    return outcome;
}

Outcome runJob(const DownloadJob& job)
{
    RecordingObserver observer;
    return runJob(job, observer);
}

Strings withoutProgress(const Strings& events)
{
    Strings result;
    for (const auto& event : events)
        if (event.rfind("progress ", 0) != 0)
            result.push_back(event);
    return result;
}

// --- Successful transfers ---------------------------------------------------------------------

TEST(DownloadWorker, ImageTransferPassesStageFourAndDeliversEveryByte)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(300'000);
    const Outcome outcome = runJob(test::makeJob(simulator.port(), TypeCode::PtzImage, payload));

    EXPECT_EQ(outcome.result, 0);
    ASSERT_GE(outcome.events.size(), 4u);
    EXPECT_EQ(outcome.events.front(), "stage 2");
    EXPECT_EQ(withoutProgress(outcome.events), (Strings{"stage 2", "stage 4", "stage 5"}));
    EXPECT_EQ(outcome.events[outcome.events.size() - 3], "progress 100");

    ASSERT_TRUE(simulator.waitForTransfers(1, SimulatorWait));
    const auto seen = simulator.transfers().at(0);
    EXPECT_EQ(seen.typeCode, 0x55AB0008u);
    EXPECT_EQ(seen.announcedSize, 300'000u);
    EXPECT_EQ(seen.outcome, "ok");
    EXPECT_TRUE(seen.payload == payload);
}

TEST(DownloadWorker, CompatibilityCheckIsAcknowledgedOnce)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes version = {0x00, 0x01, 0x05, 0x03}; // 3.5.1, least significant byte first
    const Outcome outcome =
        runJob(test::makeJob(simulator.port(), TypeCode::FirmwareVersion, version));

    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.events, (Strings{"stage 2", "progress 100", "stage 5"}));
}

TEST(DownloadWorker, CompatibilityCheckBelowTheMinimumIsRefused)
{
    auto options = loopbackOptions();
    options.minimumVersion = 0x03060000; // 3.6.0
    sim::Simulator simulator(options);
    ASSERT_TRUE(simulator.start());
    const Bytes older = {0x00, 0x01, 0x05, 0x03}; // 3.5.1
    const Bytes newer = {0x00, 0x00, 0x07, 0x03}; // 3.7.0

    EXPECT_EQ(runJob(test::makeJob(simulator.port(), TypeCode::FirmwareVersion, older)).events,
              (Strings{"stage 2", "progress 100", "error 9"}));
    EXPECT_EQ(runJob(test::makeJob(simulator.port(), TypeCode::FirmwareVersion, newer)).events,
              (Strings{"stage 2", "progress 100", "stage 5"}));
}

TEST(DownloadWorker, ChunksFollowTheChunkSizeAndProgressRoundsDown)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(10'000);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload);
    job.chunkSizeOverride = 8192;
    const Outcome outcome = runJob(job);

    // 8192 * 100 / 10000 = 81.92, then the remaining 1808 bytes.
    EXPECT_EQ(outcome.events,
              (Strings{"stage 2", "progress 81", "progress 100", "stage 4", "stage 5"}));
    ASSERT_TRUE(simulator.waitForTransfers(1, SimulatorWait));
    EXPECT_TRUE(simulator.transfers().at(0).payload == payload);
}

TEST(DownloadWorker, ProgressStaysExactForLargePayloadsAndSmallChunks)
{
    // 3 MiB in 1000-byte chunks: sent * 100 would overflow nothing here, but every value must be
    // the rounded-down percentage of the bytes sent so far.
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(3 * 1024 * 1024);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload);
    job.chunkSizeOverride = 1000;
    RecordingObserver observer;
    ASSERT_EQ(DownloadWorker(job, observer).run(), 0);

    const auto values = observer.progressValues();
    ASSERT_EQ(values.size(), (payload.size() + 999) / 1000);
    for (std::size_t i = 0; i + 1 < values.size(); ++i)
        ASSERT_EQ(values[i], static_cast<int>((i + 1) * 1000 * 100 / payload.size())) << i;
    EXPECT_EQ(values.back(), 100);
}

TEST(DownloadWorker, ZeroSizePayloadSendsNothingAndStillAwaitsBothAcknowledgements)
{
    auto options = loopbackOptions();
    options.writeTime = 100ms;
    sim::Simulator simulator(options);
    ASSERT_TRUE(simulator.start());
    const Bytes empty;
    const Outcome outcome = runJob(test::makeJob(simulator.port(), TypeCode::MacAddress, empty));

    EXPECT_EQ(outcome.events, (Strings{"stage 2", "stage 4", "stage 5"}));
    EXPECT_GE(outcome.elapsed, 100ms); // the second acknowledgement came after the write time
    ASSERT_TRUE(simulator.waitForTransfers(1, SimulatorWait));
    EXPECT_EQ(simulator.transfers().at(0).announcedSize, 0u);
    EXPECT_TRUE(simulator.transfers().at(0).payload.empty());
}

TEST(DownloadWorker, ReplyWordsArrivingInPiecesAreAssembled)
{
    // Every reply is split in two sends with a pause between, so one receive call sees half a word.
    const std::uint32_t code = TypeCode::SerialNumber;
    ScriptedPeer peer({
        ScriptedPeer::read(4),
        ScriptedPeer::write({0xAB, 0x55}),
        ScriptedPeer::write({0x00, 0x06}, 30ms),
        ScriptedPeer::read(4),
        ScriptedPeer::write({0x00, 0x00, 0x00}),
        ScriptedPeer::write({0x04}, 30ms),
        ScriptedPeer::read(4),
        ScriptedPeer::write({0xAB}),
        ScriptedPeer::write({0x55, 0xAB, 0x55}, 30ms),
        ScriptedPeer::write({0xAB, 0x55, 0xAB}, 30ms),
        ScriptedPeer::write({0x55}, 30ms),
    });
    const Bytes serial = {0x01, 0x02, 0x03, 0x04};
    const Outcome outcome = runJob(test::makeJob(peer.port(), code, serial));

    EXPECT_EQ(outcome.events, (Strings{"stage 2", "progress 100", "stage 4", "stage 5"}));
    // Type code, size and payload exactly as the wire carries them.
    EXPECT_EQ(peer.received(),
              (Bytes{0x55, 0xAB, 0x00, 0x06, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04}));
}

// --- Failures -----------------------------------------------------------------------------------

struct FaultCase {
    const char* name;
    sim::Fault fault;
    std::uint32_t typeCode;
    std::size_t payloadSize;
    Strings milestones; // the notifications apart from progress, ending with the one error
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadWorkerFault : public ::testing::TestWithParam<FaultCase> {};

// Large enough that the tool is still sending when a recorder gives up half-way.
constexpr std::size_t MidPayloadSize = 16 * 1024 * 1024;

const FaultCase FaultCases[] = {
    {"WrongTypeAnswer", sim::Fault::WrongTypeAnswer, TypeCode::IntegratedImage, 1000, {"error 3"}},
    {"SizeEchoOffByOne",
     sim::Fault::SizeEchoOffByOne,
     TypeCode::ApplicationImage,
     1000,
     {"error 5"}},
    {"RefusedCompatibility",
     sim::Fault::Refuse,
     TypeCode::FirmwareVersion,
     4,
     {"stage 2", "error 9"}},
    {"RefusedImage", sim::Fault::Refuse, TypeCode::ApplicationImage, 1000, {"stage 2", "error 8"}},
    {"CloseAfterFirstAck",
     sim::Fault::CloseAfterFirstAck,
     TypeCode::ApplicationImage,
     1000,
     {"stage 2", "stage 4", "error 8"}},
    {"BadAcknowledgement",
     sim::Fault::BadAcknowledgement,
     TypeCode::PtzImage,
     1000,
     {"stage 2", "error 8"}},
    {"BadCompatibilityAnswer",
     sim::Fault::BadAcknowledgement,
     TypeCode::FirmwareVersion,
     4,
     {"stage 2", "error 8"}},
    {"SilentAfterConnect", sim::Fault::SilentAfterConnect, TypeCode::MacAddress, 8, {"error 3"}},
    {"StopReadingMidPayload",
     sim::Fault::StopReadingMidPayload,
     TypeCode::ApplicationImage,
     MidPayloadSize,
     {"stage 2", "error 7"}},
    {"CloseMidPayload",
     sim::Fault::CloseMidPayload,
     TypeCode::ApplicationImage,
     MidPayloadSize,
     {"stage 2", "error 7"}},
};

TEST_P(DownloadWorkerFault, PostsItsErrorLastAndOnlyOnce)
{
    const FaultCase& c = GetParam();
    sim::Simulator simulator(loopbackOptions(c.fault));
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(c.payloadSize);
    DownloadJob job = test::makeJob(simulator.port(), c.typeCode, payload);
    job.deadlines.reply = 300ms;
    job.deadlines.sendStall = 300ms;
    const Outcome outcome = runJob(job);

    EXPECT_EQ(withoutProgress(outcome.events), c.milestones);
    ASSERT_FALSE(outcome.events.empty());
    EXPECT_EQ(outcome.events.back(), c.milestones.back());
    EXPECT_EQ(outcome.result, std::stoi(c.milestones.back().substr(6)));
    // No acknowledgement was seen, so the payload cannot have been reported complete twice.
    EXPECT_LE(std::count(outcome.events.begin(), outcome.events.end(), "progress 100"), 1);

    simulator.stop();
    ASSERT_EQ(simulator.transfers().size(), 1u);
    const auto seen = simulator.transfers().at(0);
    EXPECT_EQ(seen.typeCode, c.typeCode);
    if (c.fault == sim::Fault::WrongTypeAnswer || c.fault == sim::Fault::SizeEchoOffByOne) {
        EXPECT_TRUE(seen.payload.empty()) << "no payload byte may follow a failed exchange";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadWorkerFault, ::testing::ValuesIn(FaultCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(DownloadWorker, NothingListeningIsAConnectFailureWithoutStage)
{
    const Bytes payload(16, 0x5A);
    const test::UnusedPort closed;
    const Outcome outcome = runJob(test::makeJob(closed.port(), TypeCode::PtzImage, payload));
    EXPECT_EQ(outcome.result, 2);
    EXPECT_EQ(outcome.events, (Strings{"error 2"}));
}

TEST(DownloadWorker, AddressThatIsNotADottedQuadIsAConnectFailure)
{
    const Bytes payload(4, 0);
    for (const char* address :
         {"", "127.0.0", "127.0.0.256", "localhost", " 127.0.0.1", "127.0.0.1:5000"}) {
        DownloadJob job = test::makeJob(5000, TypeCode::SerialNumber, payload);
        job.targetAddress = address;
        EXPECT_EQ(runJob(job).events, (Strings{"error 2"})) << '"' << address << '"';
    }
}

TEST(DownloadWorker, PayloadSizeOutsideThe32BitWordIsRefusedBeforeConnecting)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes stand_in(16, 0);
    for (const std::int64_t size :
         {std::int64_t{1} << 31, std::int64_t{5} << 30, std::int64_t{-1}}) {
        DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, stand_in);
        job.payloadSize = size;
        RecordingObserver observer;
        DownloadWorker worker(job, observer);
        EXPECT_EQ(worker.run(), 10) << size;
        EXPECT_EQ(observer.events(), (Strings{"error 10"})) << size;
        EXPECT_FALSE(worker.failureDetail().empty());
    }
    simulator.stop();
    EXPECT_TRUE(simulator.transfers().empty()) << "no connection may have been made";
}

TEST(DownloadWorker, ClosedPeerMidSendDoesNotRaiseSigpipe)
{
    // With SIGPIPE at its default action, a send without MSG_NOSIGNAL would end the test program.
    // The recorder closes half-way through the payload; later sends hit a reset socket.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    for (int attempt = 0; attempt < 3; ++attempt) {
        sim::Simulator simulator(loopbackOptions(sim::Fault::CloseMidPayload));
        ASSERT_TRUE(simulator.start());
        const Bytes payload = test::patternPayload(MidPayloadSize);
        DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload);
        job.chunkSizeOverride = 4096; // many sends after the reset
        EXPECT_EQ(runJob(job).result, 7);
    }
    std::signal(SIGPIPE, previous);
}

// --- Deadlines ----------------------------------------------------------------------------------

constexpr auto ShortDeadline = 200ms;
constexpr auto Slack = 1s;

Bytes word(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

TEST(DownloadWorkerDeadline, ConnectGivesUpAtItsDeadline)
{
    // A listener with a full queue of one unaccepted connection drops further SYNs, so the next
    // connection attempt hangs.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const Bytes payload(8, 1);
    DownloadJob job = test::makeJob(ntohs(address.sin_port), TypeCode::MacAddress, payload);
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

TEST(DownloadWorkerDeadline, CompletionPauseFollowsStageFive)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes payload(8, 1);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::MacAddress, payload);
    job.deadlines.completionPause = 300ms;
    const Outcome outcome = runJob(job);
    ASSERT_FALSE(outcome.events.empty());
    EXPECT_EQ(outcome.events.back(), "stage 5");
    EXPECT_GE(outcome.returned - outcome.lastAt("stage 5"), 300ms);
}

// Stage 5 may end the window that owns the job, so the worker must have read all it needs of the
// job before posting it.
class JobClobberingObserver : public RecordingObserver {
public:
    explicit JobClobberingObserver(DownloadJob& job) : m_job(job) {}
    void stage(int stage) override
    {
        RecordingObserver::stage(stage);
        if (stage == 5)
            m_job.deadlines.completionPause = 0ms;
    }

private:
    DownloadJob& m_job;
};

TEST(DownloadWorkerDeadline, CompletionPauseIsTakenBeforeStageFive)
{
    sim::Simulator simulator(loopbackOptions());
    ASSERT_TRUE(simulator.start());
    const Bytes payload(4, 2);
    DownloadJob job = test::makeJob(simulator.port(), TypeCode::SerialNumber, payload);
    job.deadlines.completionPause = 300ms;
    JobClobberingObserver observer(job);
    const Outcome outcome = runJob(job, observer);
    ASSERT_FALSE(outcome.events.empty());
    EXPECT_EQ(outcome.events.back(), "stage 5");
    EXPECT_GE(outcome.returned - outcome.lastAt("stage 5"), 300ms);
}

// --- The recorder's words as literal bytes
// --------------------------------------------------------

struct RefusalCase {
    const char* name;
    std::uint32_t typeCode;
    Bytes payload;
    std::vector<Bytes> replies; // type answer, size echo, then the words after the payload
    Strings events;
    int result;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadWorkerRefusal : public ::testing::TestWithParam<RefusalCase> {};

const Bytes RefusalWord = {0xAB, 0x55, 0xFF, 0x01};
const Bytes AcknowledgementWord = {0xAB, 0x55, 0xAB, 0x55};

const RefusalCase RefusalCases[] = {
    {"CompatibilityCheck",
     0x55AB0009,
     {0x00, 0x02, 0x07, 0x03},
     {{0xAB, 0x55, 0x00, 0x09}, {0x00, 0x00, 0x00, 0x04}, RefusalWord},
     {"stage 2", "progress 100", "error 9"},
     9},
    {"IntegratedImageFirstWord",
     0x55AB0001,
     Bytes(16, 0x11),
     {{0xAB, 0x55, 0x00, 0x01}, {0x00, 0x00, 0x00, 0x10}, RefusalWord},
     {"stage 2", "progress 100", "error 8"},
     8},
    {"ApplicationImageSecondWord",
     0x55AB0003,
     Bytes(16, 0x22),
     {{0xAB, 0x55, 0x00, 0x03}, {0x00, 0x00, 0x00, 0x10}, AcknowledgementWord, RefusalWord},
     {"stage 2", "progress 100", "stage 4", "error 8"},
     8},
};

TEST_P(DownloadWorkerRefusal, OnlyTheCompatibilityCheckTakesItAsARefusal)
{
    const RefusalCase& c = GetParam();
    std::vector<ScriptedPeer::Step> script{ScriptedPeer::read(4), ScriptedPeer::write(c.replies[0]),
                                           ScriptedPeer::read(4), ScriptedPeer::write(c.replies[1]),
                                           ScriptedPeer::read(c.payload.size())};
    for (std::size_t i = 2; i < c.replies.size(); ++i)
        script.push_back(ScriptedPeer::write(c.replies[i]));
    ScriptedPeer peer(std::move(script));
    const Outcome outcome = runJob(test::makeJob(peer.port(), c.typeCode, c.payload));

    EXPECT_EQ(outcome.events, c.events);
    EXPECT_EQ(outcome.result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Words, DownloadWorkerRefusal, ::testing::ValuesIn(RefusalCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// --- Chunk size without an override
// ---------------------------------------------------------------

// The send-buffer size a connected loopback socket reports. Linux grows it when the connection is
// established, so an unconnected socket would report less.
std::size_t connectedSendBufferSize()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int size = 0;
    socklen_t sizeLength = sizeof size;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockopt(client, SOL_SOCKET, SO_SNDBUF, &size, &sizeLength) != 0)
        size = 0;
    ::close(client);
    ::close(listener);
    return static_cast<std::size_t>(std::max(size, 0));
}

TEST(DownloadWorker, WithoutAnOverrideChunksAreTheSocketSendBuffer)
{
    const std::size_t chunk = connectedSendBufferSize();
    ASSERT_GT(chunk, 0u);
    if (chunk > 32u * 1024 * 1024)
        GTEST_SKIP() << "send buffer of " << chunk << " bytes is too large for this test";
    // Three and a half chunks: 3/3.5, 2/3.5 and 1/3.5 of the payload, then the last half chunk.
    const std::size_t size = 3 * chunk + chunk / 2;
    const Bytes payload = test::patternPayload(size);
    ScriptedPeer peer({
        ScriptedPeer::read(4),
        ScriptedPeer::write({0xAB, 0x55, 0x00, 0x03}),
        ScriptedPeer::read(4),
        ScriptedPeer::write(word(static_cast<std::uint32_t>(size))),
        ScriptedPeer::read(size),
        ScriptedPeer::write(AcknowledgementWord),
        ScriptedPeer::write(AcknowledgementWord),
    });
    const DownloadJob job = test::makeJob(peer.port(), 0x55AB0003, payload);
    ASSERT_FALSE(job.chunkSizeOverride);
    const Outcome outcome = runJob(job);

    EXPECT_EQ(outcome.events, (Strings{"stage 2", "progress 28", "progress 57", "progress 85",
                                       "progress 100", "stage 4", "stage 5"}))
        << "send buffer " << chunk << " bytes, payload " << size << " bytes";
    EXPECT_EQ(peer.received().size(), 8 + size);
}

// --- Defaults
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
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    const Bytes version = {0x00, 0x02, 0x07, 0x03};
    DownloadJob job = test::makeJob(ntohs(address.sin_port), 0x55AB0009, version);
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
