#pragma once

#include "core/download/download_operator.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane {
// Lets GoogleTest print a message as its number and text.
void PrintTo(MessageId id, std::ostream* out);
} // namespace tolvane

namespace tolvane::test {

// One transfer as a routine handed it over, with its payload bytes copied at the time.
struct RecordedJob {
    std::uint32_t typeCode = 0;
    std::string targetAddress;
    std::uint16_t port = 0;
    std::int64_t payloadSize = 0;
    std::vector<std::uint8_t> payload;
};

RecordedJob recordJob(const DownloadJob& job);

// Records messages and transfers without any network; transfers answer with scripted results
// (Ok once the script is used up).
class RecordingOperator : public DownloadOperator {
public:
    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;

    // Results for the next transfers, in order.
    void scriptResults(std::initializer_list<TransferResult> results);
    // Called during each transfer, before its result is returned.
    void onTransfer(std::function<void(const DownloadJob&)> hook);

    const std::vector<MessageId>& messages() const { return m_messages; }
    const std::vector<RecordedJob>& jobs() const { return m_jobs; }

private:
    std::vector<MessageId> m_messages;
    std::vector<RecordedJob> m_jobs;
    std::deque<TransferResult> m_script;
    std::function<void(const DownloadJob&)> m_hook;
};

} // namespace tolvane::test
