#pragma once

#include "core/transfer/download_job.h"
#include "core/transfer/socket_io.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tolvane {

// Sends a payload in chunks and then waits until the peer has taken every byte, so a reply limit
// that follows starts only when the recorder holds the whole payload. Progress is the percentage
// of the payload the peer has taken (sent minus what the kernel still queues), reported when it
// grows, at most every ProgressInterval, and 100 only once every byte is taken. The payload may
// be several spans, sent one after another as one stream; nothing here reads their bytes, only the
// kernel does, so a mapped file cut short meanwhile fails the send with EFAULT instead of raising
// SIGBUS.
class PayloadSender {
public:
    static constexpr std::chrono::milliseconds ProgressInterval{50};

    PayloadSender(int socket, const std::uint8_t* payload, std::int64_t size, std::size_t chunk,
                  std::chrono::milliseconds stallLimit, std::function<void(int)> progress);
    PayloadSender(int socket, std::vector<PayloadSpan> spans, std::size_t chunk,
                  std::chrono::milliseconds stallLimit, std::function<void(int)> progress,
                  TransferClock& clock = systemClock());

    // Done, or why it stopped: TimedOut when the peer took nothing for the stall limit, Closed or
    // Failed (errno kept) from the socket, WaitFailed from poll.
    IoStatus run();

    std::int64_t sent() const { return m_sent; }
    std::int64_t taken() const { return m_taken; }
    // Whether it stopped while waiting for the peer to take what was already sent.
    bool draining() const { return m_draining; }

private:
    IoStatus sendChunk(std::int64_t end);
    IoStatus drain();
    // Bytes sent but not yet taken by the peer.
    std::int64_t queued() const;
    void updateTaken();
    void report(bool force);

    // The span holding payload byte m_sent and the payload offset where it starts.
    PayloadSpan currentSpan();

    int m_socket;
    std::vector<PayloadSpan> m_spans;
    std::int64_t m_size = 0;
    std::size_t m_chunk;
    std::chrono::milliseconds m_stallLimit;
    std::function<void(int)> m_progress;
    TransferClock& m_clock;

    std::size_t m_spanIndex = 0;
    std::int64_t m_spanStart = 0;

    std::int64_t m_sent = 0;
    std::int64_t m_taken = 0;
    bool m_draining = false;
    int m_reported = 0;
    SteadyClock::time_point m_stallDeadline;
    SteadyClock::time_point m_lastReport;
};

} // namespace tolvane
