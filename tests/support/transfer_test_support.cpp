#include "support/transfer_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane::test {

void RecordingObserver::add(std::string event)
{
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    m_events.push_back({std::move(event), now});
}

std::vector<std::string> RecordingObserver::events() const
{
    std::vector<std::string> texts;
    for (auto& event : timedEvents())
        texts.push_back(std::move(event.text));
    return texts;
}

std::vector<RecordingObserver::Event> RecordingObserver::timedEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<std::string> RecordingObserver::milestones() const
{
    std::vector<std::string> result;
    for (auto& event : events())
        if (event.rfind("progress ", 0) != 0)
            result.push_back(event);
    return result;
}

std::vector<int> RecordingObserver::progressValues() const
{
    std::vector<int> result;
    for (auto& event : events())
        if (event.rfind("progress ", 0) == 0)
            result.push_back(std::stoi(event.substr(9)));
    return result;
}

DownloadJob makeJob(std::uint16_t port, std::uint32_t typeCode,
                    const std::vector<std::uint8_t>& payload)
{
    DownloadJob job;
    job.typeCode = typeCode;
    job.targetAddress = "127.0.0.1";
    job.port = port;
    job.payload = payload.data();
    job.payloadSize = static_cast<std::int64_t>(payload.size());
    job.deadlines = shortDeadlines();
    return job;
}

std::vector<std::uint8_t> patternPayload(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

int bindLoopback(std::uint16_t& port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot bind on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
}

int connectToLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

UnusedPort::UnusedPort()
{
    m_socket = bindLoopback(m_port, -1);
}

UnusedPort::~UnusedPort()
{
    ::close(m_socket);
}

ScriptedPeer::ScriptedPeer(std::vector<Step> script) : m_script(std::move(script))
{
    m_listener = bindLoopback(m_port, 1);
    if (::pipe(m_wake) != 0)
        throw std::runtime_error("pipe");
    m_thread = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer()
{
    const char byte = 1;
    (void)!::write(m_wake[1], &byte, 1);
    m_thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::vector<std::uint8_t> ScriptedPeer::received()
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void ScriptedPeer::serve()
{
    // Waits for fd to be ready; false once the test is over.
    auto wait = [this](int fd, short events, int timeout = -1) {
        pollfd entries[2] = {{fd, events, 0}, {m_wake[0], POLLIN, 0}};
        return ::poll(entries, 2, timeout) > 0 && entries[1].revents == 0 &&
               entries[0].revents != 0;
    };
    if (!wait(m_listener, POLLIN))
        return;
    const int fd = ::accept(m_listener, nullptr, nullptr);
    if (fd < 0)
        return;
    auto readSome = [&](std::size_t most) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::recv(fd, buffer, std::min(most, sizeof buffer), 0);
        if (n > 0) {
            std::lock_guard lock(m_mutex);
            m_received.insert(m_received.end(), buffer, buffer + n);
        }
        return n;
    };
    for (const Step& step : m_script) {
        if (step.delayBefore.count() > 0)
            wait(m_wake[0], POLLIN, static_cast<int>(step.delayBefore.count()));
        if (step.kind == Step::Write) {
            if (::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) < 0)
                break;
            continue;
        }
        std::size_t left = step.count;
        while (left > 0 && wait(fd, POLLIN)) {
            const ssize_t n = readSome(left);
            if (n <= 0)
                break;
            left -= static_cast<std::size_t>(n);
        }
    }
    // Hold the connection until the tool hangs up or the test ends.
    while (wait(fd, POLLIN) && readSome(4096) > 0) {
    }
    ::close(fd);
}

} // namespace tolvane::test
