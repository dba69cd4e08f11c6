#include "sim/session.h"

#include "core/base/byte_order.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane::sim {

namespace {

// Bytes kept of what arrives after the protocol has ended, so a misbehaving peer cannot fill
// memory.
constexpr std::size_t TrailingByteLimit = 1024 * 1024;
// A payload arrives in reads of up to this much.
constexpr std::size_t ReadBlock = 1024 * 1024;
// The largest slice a paced read takes at once.
constexpr std::size_t PacedSliceLimit = 64 * 1024;

bool isTransient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

Session::Io Session::receiveSome(std::uint8_t* data, std::size_t most, std::size_t& got)
{
    for (;;) {
        const Io ready = waitFor(POLLIN);
        if (ready != Io::Ok)
            return ready;
        const ssize_t n = ::recv(m_fd.get(), data, most, MSG_DONTWAIT);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return Io::Ok;
        }
        if (n < 0 && isTransient(errno))
            continue;
        return Io::Closed;
    }
}

Session::Io Session::readExactly(std::uint8_t* data, std::size_t size)
{
    for (std::size_t done = 0, got = 0; done < size; done += got) {
        if (const Io io = receiveSome(data + done, size - done, got); io != Io::Ok)
            return io;
    }
    return Io::Ok;
}

Session::Io Session::readWord(std::uint32_t& word)
{
    std::uint8_t bytes[4];
    const Io result = readExactly(bytes, sizeof bytes);
    if (result == Io::Ok)
        word = loadBe32(bytes);
    return result;
}

Session::Io Session::readInto(const ByteSink& sink, std::size_t count)
{
    if (m_buffer.size() < std::min(count, ReadBlock))
        m_buffer.resize(std::min(count, ReadBlock));
    for (std::size_t got = 0; count > 0; count -= got) {
        if (const Io io = receiveSome(m_buffer.data(), std::min(count, m_buffer.size()), got);
            io != Io::Ok)
            return io;
        sink(m_buffer.data(), got);
    }
    return Io::Ok;
}

// The pace is kept against the start of the read, so rounding in the pauses does not add up.
Session::Io Session::readIntoAtRate(const ByteSink& sink, std::size_t count,
                                    std::uint64_t bytesPerSecond)
{
    if (bytesPerSecond == 0)
        return readInto(sink, count);
    // About fifty slices a second keep the pace smooth.
    const std::size_t slice = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(bytesPerSecond / 50, 1, PacedSliceLimit));
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t taken = 0;
    while (count > 0) {
        const std::size_t now = std::min(slice, count);
        const Io io = readInto(sink, now);
        if (io != Io::Ok)
            return io;
        count -= now;
        taken += now;
        const auto due =
            start +
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(
                static_cast<double>(taken) / static_cast<double>(bytesPerSecond)));
        if (count > 0) {
            const Io paused = pauseUntil(due);
            if (paused != Io::Ok)
                return paused;
        }
    }
    return Io::Ok;
}

Session::Io Session::writeWord(std::uint32_t word, std::chrono::milliseconds dripPause)
{
    std::uint8_t bytes[4];
    storeBe32(bytes, word);
    return writeBytes(bytes, sizeof bytes, dripPause);
}

Session::Io Session::writeBytes(const std::uint8_t* data, std::size_t size,
                                std::chrono::milliseconds dripPause)
{
    const bool drip = dripPause.count() > 0;
    std::size_t done = 0;
    while (done < size) {
        if (drip && done > 0) {
            if (const Io paused = pause(dripPause); paused != Io::Ok)
                return paused;
        }
        const Io ready = waitFor(POLLOUT);
        if (ready != Io::Ok)
            return ready;
        const ssize_t n =
            ::send(m_fd.get(), data + done, drip ? 1 : size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (isTransient(errno))
                continue;
            return Io::Closed;
        }
        done += static_cast<std::size_t>(n);
    }
    return Io::Ok;
}

void Session::reset()
{
    const linger abort{1, 0};
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    m_fd.reset();
}

void Session::shutdownWrite()
{
    ::shutdown(m_fd.get(), SHUT_WR);
}

Session::Io Session::drain(const ByteSink& sink)
{
    std::size_t kept = 0;
    for (;;) {
        const Io result = readInto(
            [&](const std::uint8_t* data, std::size_t size) {
                const std::size_t taken = std::min(size, TrailingByteLimit - kept);
                if (taken > 0)
                    sink(data, taken);
                kept += taken;
            },
            ReadBlock);
        if (result != Io::Ok)
            return result;
    }
}

Session::Io Session::holdWithoutReading()
{
    for (;;) {
        pollfd entries[2] = {{m_fd.get(), POLLRDHUP, 0}, {m_wake, POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || entries[1].revents != 0)
            return Io::Stopped;
        if (entries[0].revents & (POLLRDHUP | POLLHUP | POLLERR))
            return Io::Closed;
    }
}

Session::Io Session::pause(std::chrono::milliseconds duration)
{
    return pauseUntil(std::chrono::steady_clock::now() + duration);
}

Session::Io Session::pauseUntil(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return Io::Ok;
        pollfd entry{m_wake, POLLIN, 0};
        const int ready =
            ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
        if (ready > 0)
            return Io::Stopped;
    }
}

Session::Io Session::waitFor(short events)
{
    for (;;) {
        pollfd entries[2] = {{m_fd.get(), events, 0}, {m_wake, POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Io::Closed;
        }
        if (entries[1].revents != 0)
            return Io::Stopped;
        if (entries[0].revents != 0)
            return Io::Ok; // data, space, or an error the next call reports
    }
}

} // namespace tolvane::sim
