#include "support/simulator_operator.h"

#include "core/transfer/download_observer.h"
#include "core/transfer/download_worker.h"

namespace tolvane::test {

namespace {

class RecordingObserver : public DownloadObserver {
public:
    explicit RecordingObserver(SimulatedTransfer& transfer) : m_transfer(transfer) {}
    void error(int code) override { m_transfer.workerResult = code; }
    void stage(int stage) override { m_transfer.stages.push_back(stage); }
    void progress(int percent) override { m_transfer.progress.push_back(percent); }

private:
    SimulatedTransfer& m_transfer;
};

} // namespace

SimulatorOperator::SimulatorOperator(DownloadDeadlines deadlines) : m_deadlines(deadlines) {}

void SimulatorOperator::showMessage(MessageId id)
{
    m_messages.push_back(id);
}

TransferResult SimulatorOperator::runTransfer(const DownloadJob& job)
{
    SimulatedTransfer& transfer = m_transfers.emplace_back();
    transfer.job = recordJob(job);
    if (job.targetAddress != "127.0.0.1") {
        // Tests talk to the loopback simulator only.
        transfer.workerResult = WorkerError::ConnectFailure;
        transfer.failureDetail = "refused to connect to " + job.targetAddress;
        m_lastReach = TransferReach::NotConnected;
        showMessage(MessageId::CannotConnect);
        return TransferResult::Cancel;
    }

    DownloadJob timed = job;
    timed.deadlines = m_deadlines;
    RecordingObserver observer(transfer);
    DownloadWorker worker(timed, observer);
    const int result = worker.run();
    transfer.workerResult = result;
    transfer.failureDetail = worker.failureDetail();
    m_lastReach = worker.reach();
    if (result == WorkerError::None)
        return TransferResult::Ok;
    if (const auto message = messageForWorkerError(result))
        showMessage(*message);
    return TransferResult::Cancel;
}

} // namespace tolvane::test
