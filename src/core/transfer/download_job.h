#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

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
};

// The parameters of one transfer. The payload is owned by the caller and must outlive the transfer.
struct DownloadJob {
    std::uint32_t typeCode = 0;
    std::string targetAddress; // dotted-decimal IPv4
    std::uint16_t port = 0;
    const std::uint8_t* payload = nullptr;
    std::int64_t payloadSize = 0;
    DownloadDeadlines deadlines;
    // Payload chunk size instead of the socket's send-buffer size (tests use it, since Linux
    // reports twice the buffer size that was set).
    std::optional<std::size_t> chunkSizeOverride;
};

} // namespace tolvane
