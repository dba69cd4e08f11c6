// The worker's payload rate against a plain blocking send loop of the same chunk size (the
// socket's send-buffer size, as the worker takes it), both speaking the protocol to the same sink
// on loopback that reads and discards. The median of several runs of each, and their ratio.

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

using Clock = std::chrono::steady_clock;

constexpr int Runs = 7;
constexpr std::size_t SinkReadBlock = 1 << 20;

// Every blocking call of the bench gives up after this, so a stuck peer ends it with a message.
void setTimeouts(int fd)
{
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

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

bool receiveWord(int fd, std::uint32_t& word)
{
    std::uint8_t bytes[4];
    for (std::size_t got = 0; got < sizeof bytes;) {
        const ssize_t n = ::recv(fd, bytes + got, sizeof bytes - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    word = tolvane::loadBe32(bytes);
    return true;
}

bool expectWord(int fd, std::uint32_t expected)
{
    std::uint32_t word = 0;
    return receiveWord(fd, word) && word == expected;
}

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
            setTimeouts(fd);
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
        if (!sendWord(fd, tolvane::Acknowledgement) || !sendWord(fd, tolvane::Acknowledgement))
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
    tolvane::DownloadJob job;
    job.typeCode = tolvane::TypeCode::ApplicationImage;
    job.targetAddress = "127.0.0.1";
    job.port = port;
    job.payload = payload.data();
    job.payloadSize = static_cast<std::int64_t>(payload.size());
    job.deadlines.completionPause = std::chrono::milliseconds{0};
    QuietObserver observer;
    const auto started = Clock::now();
    const int result = tolvane::DownloadWorker(job, observer).run();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result == 0 ? seconds : -1;
}

// Seconds for the same transfer by plain blocking calls, or a negative number when it failed.
double plainOnce(std::uint16_t port, const std::vector<std::uint8_t>& payload)
{
    const auto started = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    setTimeouts(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::uint32_t type = tolvane::TypeCode::ApplicationImage;
    const auto size = static_cast<std::uint32_t>(payload.size());
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              sendWord(fd, type) && expectWord(fd, tolvane::typeAnswerFor(type)) &&
              sendWord(fd, size) && expectWord(fd, size);
    int sendBuffer = 0;
    socklen_t length = sizeof sendBuffer;
    ok = ok && ::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length) == 0 && sendBuffer > 0;
    for (std::size_t sent = 0; ok && sent < payload.size();) {
        const std::size_t chunk =
            std::min(static_cast<std::size_t>(sendBuffer), payload.size() - sent);
        ok = sendAll(fd, payload.data() + sent, chunk);
        sent += chunk;
    }
    ok = ok && expectWord(fd, tolvane::Acknowledgement) && expectWord(fd, tolvane::Acknowledgement);
    ::close(fd);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return ok ? seconds : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
        std::vector<std::uint8_t> payload(mib << 20);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
        std::vector<double> worker;
        std::vector<double> plain;
        // Alternating, so a change in the machine's load falls on both alike.
        for (int run = 0; run < Runs; ++run) {
            worker.push_back(workerOnce(sink.port(), payload));
            plain.push_back(plainOnce(sink.port(), payload));
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
