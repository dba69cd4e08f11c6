#include "core/transfer/socket_io.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0) {
        // The descriptor is gone after close even when it reports EINTR; never retry.
        ::close(m_fd);
    }
    m_fd = fd;
}

IoStatus waitFor(TransferClock& clock, int fd, short events, SteadyClock::time_point deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = clock.poll(entry, deadline);
        if (ready > 0)
            return IoStatus::Done; // errors and hang-ups surface in the following call
        if (ready == 0) {
            if (clock.now() >= deadline)
                return IoStatus::TimedOut;
            continue;
        }
        if (errno != EINTR)
            return IoStatus::WaitFailed;
    }
}

IoStatus sendAll(TransferClock& clock, int fd, const std::uint8_t* data, std::size_t size,
                 std::chrono::milliseconds stallLimit, std::size_t* sent)
{
    std::size_t done = 0;
    auto report = [&](IoStatus status) {
        if (sent)
            *sent = done;
        return status;
    };
    auto deadline = clock.now() + stallLimit;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            deadline = clock.now() + stallLimit;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return report(errno == EPIPE || errno == ECONNRESET ? IoStatus::Closed
                                                                : IoStatus::Failed);
        const IoStatus waited = waitFor(clock, fd, POLLOUT, deadline);
        if (waited != IoStatus::Done)
            return report(waited);
    }
    return report(IoStatus::Done);
}

IoStatus receiveExactly(TransferClock& clock, int fd, std::uint8_t* data, std::size_t size,
                        SteadyClock::time_point deadline)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, data + done, size - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            return IoStatus::Closed;
        if (errno == ECONNRESET)
            return IoStatus::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return IoStatus::Failed;
        const IoStatus waited = waitFor(clock, fd, POLLIN, deadline);
        if (waited != IoStatus::Done)
            return waited;
    }
    return IoStatus::Done;
}

} // namespace tolvane
