#include "core/transfer/payload_sender.h"

#include <algorithm>
#include <cerrno>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tolvane {

namespace {

// How often the queue is looked at while the peer takes the last bytes; the queue gives no
// wake-up of its own.
constexpr std::chrono::milliseconds DrainPollInterval{1};

} // namespace

PayloadSender::PayloadSender(int socket, const std::uint8_t* payload, std::int64_t size,
                             std::size_t chunk, std::chrono::milliseconds stallLimit,
                             std::function<void(int)> progress)
    : PayloadSender(socket,
                    size > 0 ? std::vector<PayloadSpan>{{payload, static_cast<std::size_t>(size)}}
                             : std::vector<PayloadSpan>{},
                    chunk, stallLimit, std::move(progress))
{
}

PayloadSender::PayloadSender(int socket, std::vector<PayloadSpan> spans, std::size_t chunk,
                             std::chrono::milliseconds stallLimit,
                             std::function<void(int)> progress, TransferClock& clock)
    : m_socket(socket), m_spans(std::move(spans)), m_chunk(std::max<std::size_t>(chunk, 1)),
      m_stallLimit(stallLimit), m_progress(std::move(progress)), m_clock(clock)
{
    for (const PayloadSpan& span : m_spans)
        m_size += static_cast<std::int64_t>(span.size());
}

PayloadSpan PayloadSender::currentSpan()
{
    while (m_spanIndex < m_spans.size() &&
           m_sent >= m_spanStart + static_cast<std::int64_t>(m_spans[m_spanIndex].size())) {
        m_spanStart += static_cast<std::int64_t>(m_spans[m_spanIndex].size());
        ++m_spanIndex;
    }
    return m_spanIndex < m_spans.size() ? m_spans[m_spanIndex] : PayloadSpan{};
}

IoStatus PayloadSender::run()
{
    if (m_size <= 0)
        return IoStatus::Done;
    m_lastReport = m_clock.now() - ProgressInterval;
    m_stallDeadline = m_clock.now() + m_stallLimit;
    while (m_sent < m_size) {
        const std::int64_t end =
            std::min<std::int64_t>(m_sent + static_cast<std::int64_t>(m_chunk), m_size);
        if (const IoStatus status = sendChunk(end); status != IoStatus::Done)
            return status;
        report(false);
    }
    return drain();
}

IoStatus PayloadSender::sendChunk(std::int64_t end)
{
    while (m_sent < end) {
        const PayloadSpan span = currentSpan();
        const auto offset = static_cast<std::size_t>(m_sent - m_spanStart);
        const std::size_t count =
            std::min(span.size() - offset, static_cast<std::size_t>(end - m_sent));
        const ssize_t n =
            ::send(m_socket, span.data() + offset, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_sent += n;
            m_stallDeadline = m_clock.now() + m_stallLimit;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return errno == EPIPE || errno == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
        // Wake at least every progress interval to tell what the peer has taken meanwhile.
        const auto tick = std::min(m_stallDeadline, m_clock.now() + ProgressInterval);
        const IoStatus waited = waitFor(m_clock, m_socket, POLLOUT, tick);
        if (waited == IoStatus::WaitFailed)
            return waited;
        if (waited == IoStatus::TimedOut && m_clock.now() >= m_stallDeadline)
            return IoStatus::TimedOut;
        report(false);
    }
    return IoStatus::Done;
}

IoStatus PayloadSender::drain()
{
    m_draining = true;
    std::int64_t lastTaken = -1;
    bool hungUp = false;
    // The recorder's answer comes once it has read everything, so its arrival is the moment to
    // look again; if something is readable before then, only the timer is left.
    short wakeOn = POLLIN;
    for (;;) {
        // The queue first: a peer that closes with bytes unread marks this socket with its error
        // before the kernel frees them, so an empty queue with no error means every byte was read.
        updateTaken();
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
            errno = error;
            return error == EPIPE || error == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
        }
        if (m_taken == m_size)
            break;
        if (hungUp) {
            errno = ECONNRESET;
            return IoStatus::Closed;
        }
        if (m_taken > lastTaken) {
            lastTaken = m_taken;
            m_stallDeadline = m_clock.now() + m_stallLimit;
        }
        report(false);
        if (m_clock.now() >= m_stallDeadline)
            return IoStatus::TimedOut;
        // Poll wakes on an error or a hang-up whatever is asked for.
        pollfd entry{m_socket, wakeOn, 0};
        const int ready =
            m_clock.poll(entry, std::min(m_stallDeadline, m_clock.now() + DrainPollInterval));
        if (ready < 0 && errno != EINTR)
            return IoStatus::WaitFailed;
        // A hang-up ends the wait, unless the queue then shows the peer read everything first.
        hungUp = ready > 0 && (entry.revents & (POLLERR | POLLHUP)) != 0;
        if (ready > 0 && (entry.revents & POLLIN) != 0)
            wakeOn = 0;
    }
    report(true);
    return IoStatus::Done;
}

std::int64_t PayloadSender::queued() const
{
    int bytes = 0;
    // Where the kernel cannot tell, what was sent counts as taken.
    if (::ioctl(m_socket, SIOCOUTQ, &bytes) != 0 || bytes < 0)
        return 0;
    return bytes;
}

void PayloadSender::updateTaken()
{
    m_taken = std::clamp<std::int64_t>(m_sent - queued(), m_taken, m_sent);
}

void PayloadSender::report(bool force)
{
    if (!force)
        updateTaken();
    const int percent = m_taken == m_size ? 100 : static_cast<int>(m_taken * 100 / m_size);
    const auto now = m_clock.now();
    if (percent <= m_reported || (!force && percent < 100 && now - m_lastReport < ProgressInterval))
        return;
    m_reported = percent;
    m_lastReport = now;
    m_progress(percent);
}

} // namespace tolvane
