// How fast the simulator takes a payload in: 256 MiB from a plain blocking sender on loopback,
// write time 0, payload not kept (as tolvane-sim runs). The median of several runs beside the goal.

#include "core/base/byte_order.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t PayloadSize = 256u << 20;
constexpr int Runs = 5;

bool sendAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendWord(int fd, std::uint32_t word)
{
    std::uint8_t bytes[4];
    tolvane::storeBe32(bytes, word);
    return sendAll(fd, bytes, sizeof bytes);
}

bool receiveWord(int fd, std::uint32_t expected)
{
    std::uint8_t bytes[4];
    for (std::size_t got = 0; got < sizeof bytes;) {
        const ssize_t n = ::recv(fd, bytes + got, sizeof bytes - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return tolvane::loadBe32(bytes) == expected;
}

// One application-image transfer by plain blocking calls; seconds from connect to the second
// acknowledgement, or a negative number when it failed.
double sendOnce(std::uint16_t port, const std::vector<std::uint8_t>& payload)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A simulator that stops answering must not hang the benchmark.
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto started = Clock::now();
    const std::uint32_t type = tolvane::TypeCode::ApplicationImage;
    const auto size = static_cast<std::uint32_t>(payload.size());
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        sendWord(fd, type) && receiveWord(fd, 0xAB550000u | (type & 0xFFFFu)) &&
        sendWord(fd, size) && receiveWord(fd, size) &&
        sendAll(fd, payload.data(), payload.size()) && receiveWord(fd, 0xAB55AB55u) &&
        receiveWord(fd, 0xAB55AB55u);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ::close(fd);
    return ok ? seconds : -1;
}

} // namespace

int main()
{
    tolvane::sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.writeTime = std::chrono::milliseconds{0};
    options.keepPayload = false;
    tolvane::sim::Simulator simulator(options);
    std::string error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "simulator_bench: the simulator did not start: %s\n", error.c_str());
        return 1;
    }

    std::vector<std::uint8_t> payload(PayloadSize);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));

    std::vector<double> seconds;
    for (int run = 0; run < Runs; ++run) {
        const double s = sendOnce(simulator.port(), payload);
        if (s < 0 || !simulator.waitForTransfers(static_cast<std::size_t>(run) + 1,
                                                 std::chrono::seconds{30})) {
            std::fprintf(stderr, "simulator_bench: transfer %d failed\n", run + 1);
            return 1;
        }
        const auto received = simulator.transfers().back();
        if (received.outcome != "ok" || received.payloadSize != PayloadSize ||
            !received.payload.empty()) {
            std::fprintf(stderr, "simulator_bench: transfer %d ended '%s' after %llu bytes\n",
                         run + 1, received.outcome.c_str(),
                         static_cast<unsigned long long>(received.payloadSize));
            return 1;
        }
        seconds.push_back(s);
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];

    std::printf("%-40s %10s %10s\n", "simulator receiving (loopback)", "GB/s", "goal GB/s");
    std::printf("%-40s %10.2f %10s\n", "256 MiB, write time 0, not kept",
                static_cast<double>(PayloadSize) / median / 1e9, ">= 1");
    return 0;
}
