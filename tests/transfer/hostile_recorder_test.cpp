// Every way a recorder can misbehave ends a transfer with one result, soon after the deadline it
// runs into, without leaking a descriptor or raising SIGPIPE.

#include "transfer/worker_test_support.h"

#include <dirent.h>

namespace tolvane {
namespace {

using namespace worker_test;
using sim::Fault;

constexpr std::uint32_t FirmwareImage = 0x55AB0003;
constexpr std::uint32_t FirmwareVersion = 0x55AB0009;
constexpr std::size_t KiB = 1024, MiB = 1024 * KiB;
constexpr auto Deadline = 300ms;

struct HostileCase {
    const char* name;
    Fault fault;
    std::uint32_t typeCode;
    std::size_t payloadSize;
    std::uint64_t readBytesPerSecond; // 0: as fast as the bytes come
    int result;
    // What the case may take before the slack: the deadline it runs into, or its reading time.
    std::chrono::milliseconds takes;
};

void PrintTo(const HostileCase& c, std::ostream* out)
{
    *out << c.name;
}

const HostileCase HostileCases[] = {
    {"Healthy", Fault::None, FirmwareImage, 64 * KiB, 0, 0, 0ms},
    {"WrongTypeAnswer", Fault::WrongTypeAnswer, FirmwareImage, 64 * KiB, 0, 3, 0ms},
    {"SizeEchoOffByOne", Fault::SizeEchoOffByOne, FirmwareImage, 64 * KiB, 0, 5, 0ms},
    {"RefusedVersion", Fault::Refuse, FirmwareVersion, 4, 0, 9, 0ms},
    {"RefusedImage", Fault::Refuse, FirmwareImage, 64 * KiB, 0, 8, 0ms},
    {"BadAcknowledgement", Fault::BadAcknowledgement, FirmwareImage, 64 * KiB, 0, 8, 0ms},
    {"CloseAfterFirstAck", Fault::CloseAfterFirstAck, FirmwareImage, 64 * KiB, 0, 8, 0ms},
    {"SilentAfterConnect", Fault::SilentAfterConnect, FirmwareImage, 64 * KiB, 0, 3, Deadline},
    // 1 MiB fits in the tool's send buffer: the stall shows while the last bytes wait.
    {"StopsReadingZeroWindow", Fault::StopReadingMidPayload, FirmwareImage, MiB, 0, 7, Deadline},
    {"StopsReadingWhileSent", Fault::StopReadingMidPayload, FirmwareImage, 16 * MiB, 0, 7,
     Deadline},
    {"ClosesMidPayload", Fault::CloseMidPayload, FirmwareImage, 16 * MiB, 0, 7, 0ms},
    {"ResetsMidPayload", Fault::ResetMidPayload, FirmwareImage, 16 * MiB, 0, 7, 0ms},
    {"DripsItsAnswers", Fault::DripAnswers, FirmwareImage, 64 * KiB, 0, 0, 4 * 90ms},
    {"HalfClosesAfterSizeEcho", Fault::HalfCloseAfterSizeEcho, FirmwareImage, 64 * KiB, 0, 8, 0ms},
    {"GarbageAfterAcknowledgements", Fault::GarbageAfterAnswers, FirmwareImage, 64 * KiB, 0, 0,
     0ms},
    {"GarbageAfterCompatibilityAnswer", Fault::GarbageAfterAnswers, FirmwareVersion, 4, 0, 0, 0ms},
    // Four times the deadlines to read it all: only the time between bytes may count.
    {"SlowSteadyReader", Fault::None, FirmwareImage, 1200 * KiB, MiB, 0, 1200ms},
};

std::size_t openDescriptorCount()
{
    std::size_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr)
            ++count;
        ::closedir(folder);
    }
    return count;
}

volatile std::sig_atomic_t brokenPipes = 0;

class HostileRecorder : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override
    {
        brokenPipes = 0;
        struct sigaction count {};
        count.sa_handler = [](int) { brokenPipes = brokenPipes + 1; };
        ::sigaction(SIGPIPE, &count, &m_previous);
    }
    void TearDown() override { ::sigaction(SIGPIPE, &m_previous, nullptr); }

private:
    struct sigaction m_previous {};
};

TEST_P(HostileRecorder, EndsWithOneResultInTime)
{
    const HostileCase& c = GetParam();
    const std::size_t descriptorsBefore = openDescriptorCount();
    Outcome outcome;
    {
        auto options = loopbackOptions(c.fault);
        options.readBytesPerSecond = c.readBytesPerSecond;
        sim::Simulator simulator(options);
        ASSERT_TRUE(test::startSimulator(simulator));
        const Bytes payload = test::patternPayload(c.payloadSize);
        DownloadJob job = test::makeJob(simulator.port(), c.typeCode, payload);
        job.deadlines = {1s, Deadline, Deadline, Deadline, 10ms, 10ms};
        outcome = runJob(job);
        simulator.stop();
    }

    EXPECT_EQ(outcome.result, c.result);
    const Strings expectedEnd = {c.result == 0 ? "stage 5" : "error " + std::to_string(c.result)};
    ASSERT_FALSE(outcome.events.empty());
    EXPECT_EQ(Strings{outcome.events.back()}, expectedEnd);
    const auto errors =
        std::count_if(outcome.events.begin(), outcome.events.end(),
                      [](const auto& event) { return event.rfind("error", 0) == 0; });
    EXPECT_EQ(errors, c.result == 0 ? 0 : 1);
    EXPECT_LT(outcome.elapsed, c.takes + Slack);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(brokenPipes, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, HostileRecorder, ::testing::ValuesIn(HostileCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace tolvane
