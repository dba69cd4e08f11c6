#include "support/recording_operator.h"

namespace tolvane {

void PrintTo(MessageId id, std::ostream* out)
{
    *out << static_cast<int>(id) << " \"" << messageText(id) << "\"";
}

} // namespace tolvane

namespace tolvane::test {

RecordedJob recordJob(const DownloadJob& job)
{
    RecordedJob recorded;
    recorded.typeCode = job.typeCode;
    recorded.targetAddress = job.targetAddress;
    recorded.port = job.port;
    recorded.payloadSize = job.payloadSize;
    for (const PayloadSpan& span : payloadSpansOf(job))
        recorded.payload.insert(recorded.payload.end(), span.begin(), span.end());
    return recorded;
}

void RecordingOperator::showMessage(MessageId id)
{
    m_messages.push_back(id);
}

TransferResult RecordingOperator::runTransfer(const DownloadJob& job)
{
    m_jobs.push_back(recordJob(job));
    if (m_hook)
        m_hook(job);
    if (m_script.empty())
        return TransferResult::Ok;
    const TransferResult result = m_script.front();
    m_script.pop_front();
    return result;
}

void RecordingOperator::scriptResults(std::initializer_list<TransferResult> results)
{
    m_script.insert(m_script.end(), results.begin(), results.end());
}

void RecordingOperator::onTransfer(std::function<void(const DownloadJob&)> hook)
{
    m_hook = std::move(hook);
}

} // namespace tolvane::test
