#include "sim/simulator.h"
#include "support/loopback_simulator.h"
#include "support/transfer_test_support.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A plain blocking client, written apart from the worker so the two cannot share a mistake.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) { m_fd = test::connectToLoopback(port); }
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connected() const { return m_fd >= 0; }

    bool send(const Bytes& bytes)
    {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Four bytes as they came, or fewer if the simulator closed or stayed silent for 5 s.
    Bytes receive4()
    {
        Bytes bytes;
        while (bytes.size() < 4) {
            pollfd entry{m_fd, POLLIN, 0};
            if (::poll(&entry, 1, 5000) <= 0)
                break;
            std::uint8_t byte = 0;
            if (::recv(m_fd, &byte, 1, 0) != 1)
                break;
            bytes.push_back(byte);
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

TEST(Simulator, AnswersWithTheRecordersWordsInOrder)
{
    sim::Simulator simulator(test::loopbackOptions());
    std::vector<std::string> lines;
    simulator.setLogSink([&lines](const std::string& line) { lines.push_back(line); });
    ASSERT_TRUE(simulator.start());
    {
        RawClient client(simulator.port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send({0x55, 0xAB, 0x00, 0x05}));
        EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x05}));
        ASSERT_TRUE(client.send({0x00, 0x00, 0x00, 0x08}));
        EXPECT_EQ(client.receive4(), (Bytes{0x00, 0x00, 0x00, 0x08}));
        ASSERT_TRUE(client.send({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0x00}));
        EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
        EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
    }
    ASSERT_TRUE(simulator.waitForTransfers(1, 5s));
    // SHA-256 of the eight bytes, worked out with Python's hashlib.
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "type 0x55AB0005 size 8: ok (sha256 "
                         "7f98f94de83d782db27f53a1cf28e373b87cb422c6f44843e308287d4e362ca8)"}));
}

// As tolvane-sim runs it, the simulator keeps only the size and SHA-256 of what arrived, never
// the bytes. Digests are the published FIPS 180-2 examples.
TEST(Simulator, KeepsTheSizeAndDigestOfAPayloadButNotTheBytes)
{
    struct Case {
        Bytes payload;
        const char* sha256;
    };
    const std::string fiftySix = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const Case cases[] = {
        {{'a', 'b', 'c'}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Bytes(fiftySix.begin(), fiftySix.end()),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Bytes(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload.size());
        sim::SimulatorOptions options;
        options.port = 0;
        sim::Simulator simulator(options);
        ASSERT_TRUE(test::startSimulator(simulator));
        {
            RawClient client(simulator.port());
            ASSERT_TRUE(client.send({0x55, 0xAB, 0x00, 0x03}));
            EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x03}));
            const auto size = c.payload.size();
            const Bytes sizeWord{
                static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
            ASSERT_TRUE(client.send(sizeWord));
            EXPECT_EQ(client.receive4(), sizeWord);
            ASSERT_TRUE(client.send(c.payload));
            EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
            EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
        }
        ASSERT_TRUE(simulator.waitForTransfers(1, 5s));
        const auto received = simulator.transfers().at(0);
        EXPECT_EQ(received.outcome, "ok");
        EXPECT_EQ(received.payloadSize, c.payload.size());
        EXPECT_EQ(received.payloadSha256, c.sha256);
        EXPECT_TRUE(received.payload.empty());
    }
}

// The simulator's own words as bytes on the wire, big-endian; the version it checks travels
// least significant byte first (3.5.1 is 0x03050100).
TEST(Simulator, ItsWordsOnTheWireAreTheRecordersBytes)
{
    struct Exchange {
        Bytes sent;
        Bytes answer;
    };
    struct Case {
        const char* what;
        sim::Fault fault;
        std::optional<std::int32_t> minimumVersion;
        std::vector<Exchange> exchanges;
    };
    const Bytes sizeOf4{0x00, 0x00, 0x00, 0x04};
    const Case cases[] = {
        {"PTZ image type answer",
         sim::Fault::None,
         std::nullopt,
         {{{0x55, 0xAB, 0x00, 0x08}, {0xAB, 0x55, 0x00, 0x08}}}},
        {"version 3.5.1 under a minimum of 3.5.2",
         sim::Fault::None,
         0x03050200,
         {{{0x55, 0xAB, 0x00, 0x09}, {0xAB, 0x55, 0x00, 0x09}},
          {sizeOf4, sizeOf4},
          {{0x00, 0x01, 0x05, 0x03}, {0xAB, 0x55, 0xFF, 0x01}}}},
        {"version 3.5.1 at a minimum of 3.5.1",
         sim::Fault::None,
         0x03050100,
         {{{0x55, 0xAB, 0x00, 0x09}, {0xAB, 0x55, 0x00, 0x09}},
          {sizeOf4, sizeOf4},
          {{0x00, 0x01, 0x05, 0x03}, {0xAB, 0x55, 0xAB, 0x55}}}},
        {"refusing PTZ image",
         sim::Fault::Refuse,
         std::nullopt,
         {{{0x55, 0xAB, 0x00, 0x08}, {0xAB, 0x55, 0x00, 0x08}},
          {{0x00, 0x00, 0x00, 0x02}, {0x00, 0x00, 0x00, 0x02}},
          {{0x12, 0x34}, {0xAB, 0x55, 0xFF, 0x01}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto options = test::loopbackOptions(c.fault);
        options.minimumVersion = c.minimumVersion;
        sim::Simulator simulator(options);
        ASSERT_TRUE(simulator.start());
        RawClient client(simulator.port());
        ASSERT_TRUE(client.connected());
        for (const auto& [sent, answer] : c.exchanges) {
            ASSERT_TRUE(client.send(sent));
            EXPECT_EQ(client.receive4(), answer);
        }
    }
}

TEST(Simulator, FaultWordsAreTheOnesTheToolMustReject)
{
    struct Case {
        sim::Fault fault;
        Bytes typeCode;
        Bytes typeAnswer;
    };
    // The wrong type answer of the integrated image is AB 55 00 02.
    sim::Simulator wrong(test::loopbackOptions(sim::Fault::WrongTypeAnswer));
    ASSERT_TRUE(wrong.start());
    RawClient first(wrong.port());
    ASSERT_TRUE(first.send({0x55, 0xAB, 0x00, 0x01}));
    EXPECT_EQ(first.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x02}));

    sim::Simulator offByOne(test::loopbackOptions(sim::Fault::SizeEchoOffByOne));
    ASSERT_TRUE(offByOne.start());
    RawClient second(offByOne.port());
    ASSERT_TRUE(second.send({0x55, 0xAB, 0x00, 0x03}));
    EXPECT_EQ(second.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x03}));
    ASSERT_TRUE(second.send({0x00, 0x01, 0x00, 0xFF}));
    EXPECT_EQ(second.receive4(), (Bytes{0x00, 0x01, 0x01, 0x00}));
}

TEST(Simulator, SavesEachPayloadAndServesConnectionsConcurrently)
{
    char pattern[] = "/tmp/tolvane-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    {
        auto options = test::loopbackOptions();
        options.saveDirectory = directory;
        sim::Simulator simulator(options);
        ASSERT_TRUE(simulator.start());

        // The first client stops after its type code; the second must still be served.
        RawClient idle(simulator.port());
        ASSERT_TRUE(idle.send({0x55, 0xAB, 0x00, 0x06}));
        EXPECT_EQ(idle.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x06}));

        RawClient busy(simulator.port());
        ASSERT_TRUE(busy.send({0x55, 0xAB, 0x00, 0x06}));
        EXPECT_EQ(busy.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x06}));
        ASSERT_TRUE(busy.send({0x00, 0x00, 0x00, 0x04}));
        EXPECT_EQ(busy.receive4(), (Bytes{0x00, 0x00, 0x00, 0x04}));
        ASSERT_TRUE(busy.send({0xDE, 0xAD, 0xBE, 0xEF}));
        EXPECT_EQ(busy.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
        EXPECT_EQ(busy.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
        simulator.stop(); // also ends the idle connection

        // Listed in the order the connections came, though the idle one ended last.
        const auto transfers = simulator.transfers();
        ASSERT_EQ(transfers.size(), 2u);
        EXPECT_EQ(transfers[0].outcome, "stopped before the size");
        const auto& done = transfers[1];
        EXPECT_EQ(done.outcome, "ok");
        EXPECT_EQ(done.savedPath, directory + "/0002-55ab0006.bin");
        std::ifstream saved(done.savedPath, std::ios::binary);
        const Bytes content{std::istreambuf_iterator<char>(saved), {}};
        EXPECT_EQ(content, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
        std::remove(done.savedPath.c_str());
    }
    ::rmdir(directory.c_str());
}

TEST(Simulator, StopEndsWaitingConnectionsPromptly)
{
    sim::Simulator simulator(test::loopbackOptions());
    ASSERT_TRUE(simulator.start());
    RawClient client(simulator.port());
    ASSERT_TRUE(client.send({0x55, 0xAB, 0x00, 0x08}));
    EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x08}));
    // The simulator now waits for a size that never comes; stop must not wait with it (the
    // test's own time-out catches a hang).
    simulator.stop();
    ASSERT_EQ(simulator.transfers().size(), 1u);
    EXPECT_EQ(simulator.transfers()[0].typeCode, 0x55AB0008u);
    EXPECT_EQ(simulator.transfers()[0].outcome, "stopped before the size");
}

TEST(SimulatorProgram, ListensOnARealPortAndSpeaksTheProtocol)
{
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    char program[] = TOLVANE_SIM_PROGRAM;
    char listen[] = "--listen";
    char address[] = "127.0.0.1:0";
    char* argv[] = {program, listen, address, nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::FILE* stream = ::fdopen(output[0], "r");

    char line[256] = {};
    const bool gotLine = std::fgets(line, sizeof line, stream) != nullptr;
    unsigned port = 0;
    const bool parsed = std::sscanf(line, "listening on 127.0.0.1:%u", &port) == 1;
    if (gotLine && parsed && port != 0) {
        RawClient client(static_cast<std::uint16_t>(port));
        EXPECT_TRUE(client.connected());
        EXPECT_TRUE(client.send({0x55, 0xAB, 0x00, 0x09}));
        EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0x00, 0x09}));
        EXPECT_TRUE(client.send({0x00, 0x00, 0x00, 0x04}));
        EXPECT_EQ(client.receive4(), (Bytes{0x00, 0x00, 0x00, 0x04}));
        EXPECT_TRUE(client.send({0x00, 0x01, 0x05, 0x03}));
        EXPECT_EQ(client.receive4(), (Bytes{0xAB, 0x55, 0xAB, 0x55}));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::fclose(stream);

    ASSERT_TRUE(gotLine);
    EXPECT_TRUE(parsed) << line;
    EXPECT_NE(port, 0u);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
} // namespace tolvane
