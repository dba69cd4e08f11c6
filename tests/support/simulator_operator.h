#pragma once

#include "core/download/download_operator.h"
#include "core/transfer/download_job.h"
#include "support/deadlines.h"
#include "support/recording_operator.h"

#include <string>
#include <vector>

namespace tolvane::test {

// What one transfer run by the SimulatorOperator did.
struct SimulatedTransfer {
    RecordedJob job;
    int workerResult = 0; // the worker's error code, 0 on success
    std::string failureDetail;
    std::vector<int> stages;
    std::vector<int> progress;
};

// Runs every transfer synchronously with the real DownloadWorker against a recorder on the
// loopback address (normally a tolvane::sim::Simulator started on port 0), with short deadlines.
// A worker error is shown as the progress window would show it, and the transfer answers Cancel.
// Jobs aimed anywhere but 127.0.0.1 are refused without connecting.
class SimulatorOperator : public DownloadOperator {
public:
    explicit SimulatorOperator(DownloadDeadlines deadlines = simulatorDeadlines());

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;
    std::optional<TransferReach> lastTransferReach() const override { return m_lastReach; }

    const std::vector<MessageId>& messages() const { return m_messages; }
    const std::vector<SimulatedTransfer>& transfers() const { return m_transfers; }

private:
    DownloadDeadlines m_deadlines;
    std::vector<MessageId> m_messages;
    std::vector<SimulatedTransfer> m_transfers;
    std::optional<TransferReach> m_lastReach;
};

} // namespace tolvane::test
