#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tolvane {

class TransferClock;

// Time limits of one transfer. Defaults suit a real recorder; tests pass short ones.
struct DownloadDeadlines {
    std::chrono::milliseconds connect{10'000};
    // Each reply word: type answer, size echo, compatibility answer, first acknowledgement.
    std::chrono::milliseconds reply{30'000};
    // Longest time the peer may accept no payload byte while we send.
    std::chrono::milliseconds sendStall{30'000};
    // The second acknowledgement waits while the recorder writes the image:
    // max(writeMinimum, writePerMiB per started MiB of payload).
    std::chrono::milliseconds writeMinimum{5 * 60'000};
    std::chrono::milliseconds writePerMiB{40'000};
    // Pause after the last notification before the socket is closed.
    std::chrono::milliseconds completionPause{500};
    // Where the time is read and the socket waited for; null for the system's clock and poll.
    TransferClock* clock = nullptr;
};

// A stretch of payload bytes, owned by the caller.
using PayloadSpan = std::span<const std::uint8_t>;

// The parameters of one transfer. The payload is owned by the caller and must outlive the transfer.
struct DownloadJob {
    std::uint32_t typeCode = 0;
    std::string targetAddress; // dotted-decimal IPv4
    std::uint16_t port = 0;
    const std::uint8_t* payload = nullptr;
    std::int64_t payloadSize = 0;
    // When not empty, the payload is these spans one after another instead of `payload`, and
    // payloadSize is their total: an image goes out from its mapping with a unit's own bytes in
    // between, and nothing is copied.
    std::vector<PayloadSpan> payloadSpans;
    DownloadDeadlines deadlines;
    // Payload chunk size instead of the socket's send-buffer size (tests use it, since Linux
    // reports twice the buffer size that was set).
    std::optional<std::size_t> chunkSizeOverride;
};

// The spans the recorder receives, in order: the job's spans, or the one span at payload.
inline std::vector<PayloadSpan> payloadSpansOf(const DownloadJob& job)
{
    if (!job.payloadSpans.empty())
        return job.payloadSpans;
    if (job.payload == nullptr || job.payloadSize <= 0)
        return {};
    return {PayloadSpan(job.payload, static_cast<std::size_t>(job.payloadSize))};
}

} // namespace tolvane
