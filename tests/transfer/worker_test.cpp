#include "transfer/worker_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace worker_test;
using namespace std::chrono_literals;

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

TEST(DownloadWorker, ProgressFollowsWhatTheRecorderHasTaken)
{
    // 512 KiB read at 2 MiB/s: the recorder needs about 250 ms, and its small receive buffer
    // holds only a few dozen KiB of what is still on its way.
    auto options = loopbackOptions();
    options.readBytesPerSecond = 2 * 1024 * 1024;
    sim::Simulator simulator(options);
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(512 * 1024);
    const Outcome outcome =
        runJob(test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload));
    ASSERT_EQ(outcome.result, 0);

    std::vector<RecordingObserver::Event> progress;
    for (const auto& event : outcome.timed)
        if (event.text.rfind("progress ", 0) == 0)
            progress.push_back(event);
    ASSERT_GE(progress.size(), 3u) << "the bar should move, not jump";
    EXPECT_EQ(progress.back().text, "progress 100");
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_LT(std::stoi(progress[i - 1].text.substr(9)), std::stoi(progress[i].text.substr(9)));
        if (i + 1 < progress.size()) {
            EXPECT_GE(progress[i].at - progress[i - 1].at, 50ms) << "at most every 50 ms";
        }
    }
    // 100 only once the recorder could have read all but its buffer: (512 - 64) KiB at 2 MiB/s.
    EXPECT_GE(progress.back().at - outcome.lastAt("stage 2"), 200ms);
    ASSERT_TRUE(simulator.waitForTransfers(1, SimulatorWait));
    EXPECT_TRUE(simulator.transfers().at(0).payload == payload);
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
    std::uint16_t port = 0;
    const int listener = test::bindLoopback(port, 1);
    const int client = test::connectToLoopback(port);
    int size = 0;
    socklen_t sizeLength = sizeof size;
    if (client < 0 || ::getsockopt(client, SOL_SOCKET, SO_SNDBUF, &size, &sizeLength) != 0)
        size = 0;
    if (client >= 0)
        ::close(client);
    ::close(listener);
    return static_cast<std::size_t>(std::max(size, 0));
}

TEST(DownloadWorker, WithoutAnOverrideSeveralSendBuffersArriveWhole)
{
    const std::size_t chunk = connectedSendBufferSize();
    ASSERT_GT(chunk, 0u);
    if (chunk > 32u * 1024 * 1024)
        GTEST_SKIP() << "send buffer of " << chunk << " bytes is too large for this test";
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

    EXPECT_EQ(withoutProgress(outcome.events), (Strings{"stage 2", "stage 4", "stage 5"}));
    Strings progress = outcome.events;
    std::erase_if(progress, [](const std::string& event) { return event.rfind("progress ", 0); });
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "progress 100");
    ASSERT_EQ(peer.received().size(), 8 + size);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), peer.received().begin() + 8));
}

// --- Defaults

} // namespace
} // namespace tolvane
