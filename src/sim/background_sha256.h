#pragma once

#include "core/base/sha256_digest.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::sim {

// A SHA-256 digest of a stream, taken on a thread of its own once the stream grows large, so the
// hash of one block runs while the next one arrives: hashing costs about as much as receiving,
// and done in turn the two would halve the rate. Small streams are hashed in place.
class BackgroundSha256 {
public:
    BackgroundSha256() = default;
    ~BackgroundSha256(); // waits for the thread
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Copies the bytes, so they need to stay valid only during the call.
    void update(const std::uint8_t* data, std::size_t size);
    // Lower-case hex of everything given.
    Result<std::string> finishHex();

private:
    void hashLoop();
    void stopThread();

    Sha256Digest m_digest; // the thread's alone while it runs
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint8_t> m_pending; // handed to the thread, guarded by m_mutex
    std::vector<std::uint8_t> m_hashing; // the thread's own
    bool m_full = false;                 // m_pending waits to be hashed
    bool m_stopping = false;
};

} // namespace tolvane::sim
