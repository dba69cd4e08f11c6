// The end of a payload: a peer that closes with bytes unread has not taken the payload, and one
// that read every byte before closing has. Each case runs many rounds so that the close lands at
// every point of the sender's last send and its wait.

#include "core/transfer/payload_sender.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t PayloadSize = 4096;
constexpr int Rounds = 1000;

struct EndCase {
    const char* name;
    std::size_t leftUnread; // by the peer before it closes
    IoStatus expected;
};

class PayloadEnd : public testing::TestWithParam<EndCase> {};

TEST_P(PayloadEnd, PeerClosingRightAfterTheLastSend)
{
    const std::vector<std::uint8_t> payload(PayloadSize, 0x5A);
    for (int round = 0; round < Rounds; ++round) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        std::thread peer([&, peerSocket = pair[1]] {
            std::uint8_t sink[PayloadSize];
            std::size_t wanted = PayloadSize - GetParam().leftUnread;
            while (wanted > 0) {
                const ssize_t n = ::read(peerSocket, sink, wanted);
                if (n <= 0)
                    break;
                wanted -= static_cast<std::size_t>(n);
            }
            ::close(peerSocket);
        });
        PayloadSender sender(pair[0], payload.data(), PayloadSize, PayloadSize, 2s, [](int) {});
        const IoStatus status = sender.run();
        peer.join();
        ::close(pair[0]);
        ASSERT_EQ(status, GetParam().expected) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, PayloadEnd,
                         testing::Values(EndCase{"ReadEverything", 0, IoStatus::Done},
                                         EndCase{"LeftOneByte", 1, IoStatus::Closed},
                                         EndCase{"LeftHalf", PayloadSize / 2, IoStatus::Closed}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace tolvane
