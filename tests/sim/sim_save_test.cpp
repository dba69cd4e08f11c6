#include "sim/simulator.h"
#include "support/firmware_image.h"
#include "support/loopback_simulator.h"
#include "support/temp_dir.h"
#include "support/transfer_test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes readBack(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

// Sends one serial-number transfer (type 0x55AB0006) by hand and reads the recorder's four words;
// answers whether all of them were the expected ones.
bool sendSerialNumber(std::uint16_t port, const Bytes& payload)
{
    const int fd = test::connectToLoopback(port);
    if (fd < 0)
        return false;
    auto sendBytes = [fd](const Bytes& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    };
    auto receive = [fd](const Bytes& expected) {
        Bytes got;
        while (got.size() < 4) {
            pollfd entry{fd, POLLIN, 0};
            std::uint8_t byte = 0;
            if (::poll(&entry, 1, 5000) <= 0 || ::recv(fd, &byte, 1, 0) != 1)
                break;
            got.push_back(byte);
        }
        return got == expected;
    };
    const auto n = payload.size();
    const Bytes size{static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                     static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    const Bytes ack{0xAB, 0x55, 0xAB, 0x55};
    const bool ok = sendBytes({0x55, 0xAB, 0x00, 0x06}) && receive({0xAB, 0x55, 0x00, 0x06}) &&
                    sendBytes(size) && receive(size) && sendBytes(payload) && receive(ack) &&
                    receive(ack);
    ::close(fd);
    return ok;
}

class SimulatorSaveTest : public ::testing::Test {
protected:
    // Runs a simulator saving into the test's folder for one transfer; answers what it saved.
    sim::ReceivedTransfer transferOnce(const Bytes& payload,
                                       const std::function<void()>& afterStart = {})
    {
        sim::SimulatorOptions options = test::loopbackOptions();
        options.saveDirectory = m_dir.path();
        options.keepPayload = false; // what is saved comes as it arrives, not from a copy
        sim::Simulator simulator(options);
        EXPECT_TRUE(test::startSimulator(simulator));
        if (afterStart)
            afterStart();
        EXPECT_TRUE(sendSerialNumber(simulator.port(), payload));
        EXPECT_TRUE(simulator.waitForTransfers(1, 5s));
        simulator.stop();
        const auto transfers = simulator.transfers();
        return transfers.empty() ? sim::ReceivedTransfer{} : transfers.front();
    }

    test::TempDir m_dir;
};

TEST_F(SimulatorSaveTest, ALaterRunKeepsThePayloadsOfAnEarlierOne)
{
    const Bytes first{0x11, 0x22, 0x33, 0x44};
    const Bytes second{0xA5, 0x5A, 0x00, 0xFF};

    const auto a = transferOnce(first);
    const auto b = transferOnce(second);

    ASSERT_EQ(a.outcome, "ok");
    ASSERT_EQ(b.outcome, "ok");
    EXPECT_EQ(a.savedPath, m_dir.file("0001-55ab0006.bin"));
    // Numbered after what the earlier run left, so the names still sort in arrival order.
    EXPECT_EQ(b.savedPath, m_dir.file("0002-55ab0006.bin"));
    EXPECT_EQ(readBack(m_dir.file("0001-55ab0006.bin")), first);
    EXPECT_EQ(readBack(m_dir.file("0002-55ab0006.bin")), second);
    EXPECT_EQ(m_dir.entryCount(), 2u);
}

TEST_F(SimulatorSaveTest, APayloadOfManyReadsIsSavedWholeAndNothingElseIsLeft)
{
    Bytes payload(3'000'000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i % 251); // a shifted or repeated read shows

    const auto t = transferOnce(payload);

    ASSERT_EQ(t.outcome, "ok");
    EXPECT_EQ(t.savedPath, m_dir.file("0001-55ab0006.bin"));
    EXPECT_EQ(readBack(m_dir.file("0001-55ab0006.bin")), payload);
    EXPECT_EQ(m_dir.entryCount(), 1u); // no temporary file stays behind
}

TEST_F(SimulatorSaveTest, ANameTakenAfterStartIsNotOverwritten)
{
    // Another simulator sharing the folder writes the name this one would use next.
    const Bytes other{'o', 't', 'h', 'e', 'r'};
    const Bytes payload{0x01, 0x02, 0x03, 0x04};

    const auto t = transferOnce(
        payload, [&] { test::writeFileBytes(m_dir.file("0001-55ab0006.bin"), other); });

    ASSERT_EQ(t.outcome, "ok");
    EXPECT_EQ(t.savedPath, m_dir.file("0002-55ab0006.bin"));
    EXPECT_EQ(readBack(m_dir.file("0001-55ab0006.bin")), other);
    EXPECT_EQ(readBack(m_dir.file("0002-55ab0006.bin")), payload);
    EXPECT_EQ(m_dir.entryCount(), 2u);
}

TEST_F(SimulatorSaveTest, UnrelatedFilesInTheFolderDoNotDisturbNumbering)
{
    test::writeFileBytes(m_dir.file("notes.txt"), {'x'});
    test::writeFileBytes(m_dir.file("12345678901-55ab0006.bin"),
                         {'y'}); // too long to be one of ours
    test::writeFileBytes(m_dir.file("0007-55ab0003.bin"), {'z'});

    const auto t = transferOnce({0x09, 0x08, 0x07, 0x06});

    ASSERT_EQ(t.outcome, "ok");
    EXPECT_EQ(t.savedPath, m_dir.file("0008-55ab0006.bin"));
    EXPECT_EQ(readBack(m_dir.file("0007-55ab0003.bin")), Bytes{'z'});
}

} // namespace
} // namespace tolvane
