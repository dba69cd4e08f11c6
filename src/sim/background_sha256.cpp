#include "sim/background_sha256.h"

namespace tolvane::sim {

namespace {

// Below this a block is hashed in place: a thread would cost more than it saves.
constexpr std::size_t BackgroundThreshold = 256 * 1024;

} // namespace

BackgroundSha256::~BackgroundSha256()
{
    stopThread();
}

void BackgroundSha256::update(const std::uint8_t* data, std::size_t size)
{
    if (!m_thread.joinable()) {
        if (size < BackgroundThreshold) {
            m_digest.update(data, size);
            return;
        }
        m_thread = std::thread([this] { hashLoop(); });
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_full; });
    m_pending.assign(data, data + size);
    m_full = true;
    m_changed.notify_all();
}

void BackgroundSha256::hashLoop()
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_full || m_stopping; });
            if (!m_full)
                return;
            m_hashing.swap(m_pending);
            m_full = false;
            m_changed.notify_all();
        }
        m_digest.update(m_hashing.data(), m_hashing.size());
    }
}

void BackgroundSha256::stopThread()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true; // the thread still hashes what is pending first
        m_changed.notify_all();
    }
    m_thread.join();
}

Result<std::string> BackgroundSha256::finishHex()
{
    stopThread();
    return m_digest.finishHex();
}

} // namespace tolvane::sim
