// The worker's payload rate against a plain blocking send loop of the same chunk size (the
// socket's send-buffer size, as the worker takes it), both speaking the protocol to the same sink
// on loopback that reads and discards. The median of several runs of each, and their ratio.

#include "bench_support.h"
#include "core/base/byte_order.h"
#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tolvane::bench;
using Clock = std::chrono::steady_clock;

constexpr int Runs = 31;
constexpr std::size_t SinkReadBlock = 1 << 20;

// A recorder reduced to its words: answers the type code and the size, reads the payload into
// one buffer it overwrites, acknowledges twice, then waits for the sender to hang up. Serves one
// connection at a time until stopped.
class DiscardingSink {
public:
    DiscardingSink()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~DiscardingSink()
    {
        // Wakes the blocked accept().
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }

    std::uint16_t port() const { return m_port; }
    int failures() const { return m_failures.load(); }

private:
    void serve()
    {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[SinkReadBlock]);
        for (;;) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            setBlockingTimeouts(fd);
            if (!answer(fd, block.get()))
                ++m_failures;
            ::close(fd);
        }
    }

    static bool answer(int fd, std::uint8_t* block)
    {
        std::uint32_t typeCode = 0;
        std::uint32_t size = 0;
        if (!receiveWord(fd, typeCode) || !sendWord(fd, tolvane::typeAnswerFor(typeCode)) ||
            !receiveWord(fd, size) || !sendWord(fd, size))
            return false;
        for (std::size_t left = size; left > 0;) {
            const ssize_t n = ::recv(fd, block, std::min(left, SinkReadBlock), 0);
            if (n <= 0)
                return false;
            left -= static_cast<std::size_t>(n);
        }
        // Both acknowledgements in one segment: sent apart, the second would wait for the
        // sender's delayed ACK (Nagle), and the bench would measure that 40 ms instead.
        std::uint8_t acknowledgements[8];
        tolvane::storeBe32(acknowledgements, tolvane::Acknowledgement);
        tolvane::storeBe32(acknowledgements + 4, tolvane::Acknowledgement);
        if (!sendAll(fd, acknowledgements, sizeof acknowledgements))
            return false;
        while (::recv(fd, block, SinkReadBlock, 0) > 0) {
        }
        return true;
    }

    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_failures{0};
};

class QuietObserver : public tolvane::DownloadObserver {
public:
    void error(int) override {}
    void stage(int) override {}
    void progress(int) override {}
};

// Seconds for one transfer by the worker, or a negative number when it failed.
double workerOnce(std::uint16_t port, const std::vector<std::uint8_t>& payload)
{
    tolvane::DownloadJob job = loopbackImageJob(port, payload);
    job.deadlines.completionPause = std::chrono::milliseconds{0};
    QuietObserver observer;
    const auto started = Clock::now();
    const int result = tolvane::DownloadWorker(job, observer).run();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result == 0 ? seconds : -1;
}

} // namespace

int main()
{
    DiscardingSink sink;
    if (sink.port() == 0) {
        std::fprintf(stderr, "transfer_bench: the sink could not listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("%-22s %12s %12s %8s %8s\n", "payload (loopback)", "worker MB/s", "plain MB/s",
                "ratio", "goal");
    for (const std::size_t mib : {16u, 64u}) {
        const std::vector<std::uint8_t> payload = patternPayload(mib << 20);
        std::vector<double> worker;
        std::vector<double> plain;
        // Alternating, so a change in the machine's load falls on both alike.
        for (int run = 0; run < Runs; ++run) {
            worker.push_back(workerOnce(sink.port(), payload));
            plain.push_back(plainImageTransfer(sink.port(), payload, PlainChunks::SendBuffer));
            if (worker.back() < 0 || plain.back() < 0 || sink.failures() > 0) {
                std::fprintf(stderr, "transfer_bench: a %zu MiB transfer failed\n", mib);
                return 1;
            }
        }
        const double bytes = static_cast<double>(payload.size());
        const double workerRate = bytes / median(worker) / 1e6;
        const double plainRate = bytes / median(plain) / 1e6;
        char label[32];
        std::snprintf(label, sizeof label, "%zu MiB", mib);
        std::printf("%-22s %12.0f %12.0f %8.3f %8s\n", label, workerRate, plainRate,
                    workerRate / plainRate, ">= 0.97");
    }
    return 0;
}
