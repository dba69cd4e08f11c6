#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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
    // Appends up to count bytes to out, as they arrive.
    Io readInto(std::vector<std::uint8_t>& out, std::size_t count);
    // Like readInto, but on average no faster than bytesPerSecond (0: no limit).
    Io readIntoAtRate(std::vector<std::uint8_t>& out, std::size_t count,
                      std::uint64_t bytesPerSecond);
    // A pause above zero sends the word one byte at a time with that pause between the bytes.
    Io writeWord(std::uint32_t word, std::chrono::milliseconds dripPause = {});
    Io writeBytes(const std::uint8_t* data, std::size_t size,
                  std::chrono::milliseconds dripPause = {});
    // Reads until the peer closes or the simulator stops; keeps what arrives (up to a limit).
    Io drain(std::vector<std::uint8_t>& out);
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
};

} // namespace tolvane::sim
