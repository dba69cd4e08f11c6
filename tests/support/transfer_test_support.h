#pragma once

#include "core/transfer/download_job.h"
#include "core/transfer/download_observer.h"
#include "support/deadlines.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::test {

// Keeps every notification as text: "error 8", "stage 2", "progress 100", with when it came.
class RecordingObserver : public DownloadObserver {
public:
    using Clock = std::chrono::steady_clock;
    struct Event {
        std::string text;
        Clock::time_point at;
    };

    void error(int code) override { add("error " + std::to_string(code)); }
    void stage(int stage) override { add("stage " + std::to_string(stage)); }
    void progress(int percent) override { add("progress " + std::to_string(percent)); }

    std::vector<std::string> events() const;
    std::vector<Event> timedEvents() const;
    // The events without the progress notifications.
    std::vector<std::string> milestones() const;
    std::vector<int> progressValues() const;

protected:
    void add(std::string event);

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

DownloadJob makeJob(std::uint16_t port, std::uint32_t typeCode,
                    const std::vector<std::uint8_t>& payload);

// Bytes that differ from position to position, so a shifted or repeated chunk shows.
std::vector<std::uint8_t> patternPayload(std::size_t size);

// A TCP socket bound to a free port on 127.0.0.1 (stored in port), listening with that backlog
// unless it is negative; throws std::runtime_error when that is impossible. The caller closes it.
int bindLoopback(std::uint16_t& port, int backlog);

// A TCP socket connected to that port on 127.0.0.1, or -1. The caller closes it.
int connectToLoopback(std::uint16_t port);

// A loopback port on which nothing listens: the socket stays bound, without listening, for the
// object's lifetime, so a connection to it is refused and no other test can take the port.
class UnusedPort {
public:
    UnusedPort();
    ~UnusedPort();
    UnusedPort(const UnusedPort&) = delete;
    UnusedPort& operator=(const UnusedPort&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_socket = -1;
    std::uint16_t m_port = 0;
};

// A one-connection peer on 127.0.0.1 that follows a fixed script of reads and writes, then
// holds the connection until the other side closes it.
class ScriptedPeer {
public:
    struct Step {
        enum Kind { Read, Write } kind;
        std::vector<std::uint8_t> bytes; // Write: what to send
        std::size_t count = 0;           // Read: how many bytes to take
        std::chrono::milliseconds delayBefore{0};
    };
    static Step read(std::size_t count) { return {Step::Read, {}, count}; }
    static Step write(std::vector<std::uint8_t> bytes,
                      std::chrono::milliseconds delayBefore = std::chrono::milliseconds{0})
    {
        return {Step::Write, std::move(bytes), 0, delayBefore};
    }

    explicit ScriptedPeer(std::vector<Step> script);
    ~ScriptedPeer();
    std::uint16_t port() const { return m_port; }
    // Everything the peer read, in order.
    std::vector<std::uint8_t> received();

private:
    void serve();
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::vector<Step> m_script;
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_received;
    std::thread m_thread;
};

} // namespace tolvane::test
