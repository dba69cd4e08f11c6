#pragma once

#include "core/base/byte_order.h"
#include "core/transfer/transfer_clock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tolvane {

// Owns one file descriptor and closes it on every way out.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

enum class IoStatus {
    Done,
    TimedOut,   // the deadline passed first
    Closed,     // the peer closed the connection
    Failed,     // the socket reported an error; errno is kept
    WaitFailed, // poll itself failed; errno is kept
};

// Waits with the clock's poll until fd reports one of events (or an error condition) or the
// deadline passes.
IoStatus waitFor(TransferClock& clock, int fd, short events, SteadyClock::time_point deadline);

// Sends all bytes; the stall limit restarts whenever the peer accepts at least one byte.
// *sent (if given) counts the bytes accepted, also on failure.
IoStatus sendAll(TransferClock& clock, int fd, const std::uint8_t* data, std::size_t size,
                 std::chrono::milliseconds stallLimit, std::size_t* sent = nullptr);

// Receives exactly size bytes, across partial reads, before the deadline.
IoStatus receiveExactly(TransferClock& clock, int fd, std::uint8_t* data, std::size_t size,
                        SteadyClock::time_point deadline);

// Protocol words travel big-endian.
inline void encodeWord(std::uint32_t word, std::uint8_t* out)
{
    storeBe32(out, word);
}

inline std::uint32_t decodeWord(const std::uint8_t* in)
{
    return loadBe32(in);
}

} // namespace tolvane
