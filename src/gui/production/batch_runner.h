#pragma once

#include "core/transfer/download_job.h"
#include "service/download_service.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tolvane {

// One run the production window starts: the plan (its record still to be opened), the record's
// location (empty: none), and the units in the table's order.
struct BatchRequest {
    service::DownloadPlan plan;
    std::string recordLocation;
    std::vector<service::UnitRequest> units;
    service::BatchOptions options;
};

// Runs DownloadService::runBatch on a thread of its own and tells what it hears on the thread
// the runner lives on, so the window never waits for a recorder.
class BatchRunner : public QObject {
    Q_OBJECT
public:
    explicit BatchRunner(QObject* parent = nullptr);
    // Asks a run to stop and waits for its running units to end.
    ~BatchRunner() override;

    bool running() const { return m_running; }
    // Starts a run; false while another is still running.
    bool start(BatchRequest request);
    // Starts no further unit; the running ones finish.
    void stop();

signals:
    void unitStarted(int unit);
    void unitMessage(int unit, const QString& text);
    void unitStage(int unit, int stage);
    void unitProgress(int unit, int percent);
    void unitFinished(int unit, const tolvane::service::UnitOutcome& outcome);
    // The record could not be opened: nothing was sent.
    void recordUnavailable(const QString& reason);
    void runFinished(const tolvane::service::BatchOutcome& batch);

private:
    friend class QueuedUnitObserver;
    // Runs call on this object's thread, unless the runner is gone by then.
    void post(std::function<void(BatchRunner&)> call);
    void run(std::stop_token stop, BatchRequest request);

    bool m_running = false;
    std::jthread m_thread;
};

} // namespace tolvane
