#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tolvane::sim {

// Owns one file descriptor and closes it on every way out.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1);

private:
    int m_fd;
};

// One connection, from the recorder's side. Every wait also watches the stop pipe.
class Session {
public:
    enum class Io { Ok, Closed, Stopped };

    Session(int fd, int wakeFd) : m_fd(fd), m_wake(wakeFd) {}

    Io readExactly(std::uint8_t* data, std::size_t size);
    Io readWord(std::uint32_t& word);
    // Takes the bytes a read gives, which stay valid only during the call.
    using ByteSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

    // Hands count bytes to sink as they arrive.
    Io readInto(const ByteSink& sink, std::size_t count);
    // Like readInto, but on average no faster than bytesPerSecond (0: no limit).
    Io readIntoAtRate(const ByteSink& sink, std::size_t count, std::uint64_t bytesPerSecond);
    // A pause above zero sends the word one byte at a time with that pause between the bytes.
    Io writeWord(std::uint32_t word, std::chrono::milliseconds dripPause = {});
    Io writeBytes(const std::uint8_t* data, std::size_t size,
                  std::chrono::milliseconds dripPause = {});
    // Reads until the peer closes or the simulator stops; hands what arrives to sink (up to a
    // limit, so a misbehaving peer cannot fill memory).
    Io drain(const ByteSink& sink);
    // Holds the connection without reading until the peer hangs up or the simulator stops.
    Io holdWithoutReading();
    // Sleeps for the given time unless the simulator stops first.
    Io pause(std::chrono::milliseconds duration);
    Io pauseUntil(std::chrono::steady_clock::time_point deadline);
    void close() { m_fd.reset(); }
    // Closes so that the peer sees a reset instead of an orderly end.
    void reset();
    // Ends the recorder's sending side while it goes on reading.
    void shutdownWrite();

private:
    Io waitFor(short events);
    // Some bytes, at most `most`, as soon as any arrive.
    Io receiveSome(std::uint8_t* data, std::size_t most, std::size_t& got);

    Fd m_fd;
    int m_wake;
    // Grown on first use and kept: large reads keep the system calls few, and one buffer per
    // connection keeps page faults out of the payload loop.
    std::vector<std::uint8_t> m_buffer;
};

} // namespace tolvane::sim
