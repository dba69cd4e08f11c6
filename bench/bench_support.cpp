#include "bench_support.h"

#include "core/base/byte_order.h"
#include "core/transfer/wire_words.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane::bench {

void setBlockingTimeouts(int fd)
{
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int connectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    setBlockingTimeouts(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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
    storeBe32(bytes, word);
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
    word = loadBe32(bytes);
    return true;
}

bool expectWord(int fd, std::uint32_t expected)
{
    std::uint32_t word = 0;
    return receiveWord(fd, word) && word == expected;
}

bool announcePayload(int fd, std::uint32_t typeCode, std::uint32_t size)
{
    return sendWord(fd, typeCode) && expectWord(fd, 0xAB550000u | (typeCode & 0xFFFFu)) &&
           sendWord(fd, size) && expectWord(fd, size);
}

namespace {

bool sendInChunks(int fd, const std::vector<std::uint8_t>& payload, PlainChunks chunks)
{
    if (chunks == PlainChunks::Whole)
        return sendAll(fd, payload.data(), payload.size());
    int sendBuffer = 0;
    socklen_t length = sizeof sendBuffer;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length) != 0 || sendBuffer <= 0)
        return false;
    for (std::size_t sent = 0; sent < payload.size();) {
        const std::size_t chunk =
            std::min(static_cast<std::size_t>(sendBuffer), payload.size() - sent);
        if (!sendAll(fd, payload.data() + sent, chunk))
            return false;
        sent += chunk;
    }
    return true;
}

} // namespace

double plainImageTransfer(std::uint16_t port, const std::vector<std::uint8_t>& payload,
                          PlainChunks chunks)
{
    const auto started = std::chrono::steady_clock::now();
    const int fd = connectLoopback(port);
    if (fd < 0)
        return -1;
    const bool ok = announcePayload(fd, TypeCode::ApplicationImage,
                                    static_cast<std::uint32_t>(payload.size())) &&
                    sendInChunks(fd, payload, chunks) && expectWord(fd, 0xAB55AB55u) &&
                    expectWord(fd, 0xAB55AB55u);
    ::close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return ok ? seconds : -1;
}

DownloadJob loopbackImageJob(std::uint16_t port, const std::vector<std::uint8_t>& payload)
{
    DownloadJob job;
    job.typeCode = TypeCode::ApplicationImage;
    job.targetAddress = "127.0.0.1";
    job.port = port;
    job.payload = payload.data();
    job.payloadSize = static_cast<std::int64_t>(payload.size());
    return job;
}

std::vector<std::uint8_t> patternPayload(std::size_t size)
{
    std::vector<std::uint8_t> payload(size);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    return payload;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace tolvane::bench
