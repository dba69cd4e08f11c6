#include "gui/production/batch_runner.h"

#include "core/base/messages.h"
#include "gui/prompter.h"
#include "record/production_record.h"

#include <QMetaObject>

#include <memory>
#include <optional>
#include <utility>

namespace tolvane {

// Hands every call of the batch's threads to the runner's own thread, in order per unit.
class QueuedUnitObserver : public service::UnitObserver {
public:
    explicit QueuedUnitObserver(BatchRunner& runner) : m_runner(runner) {}

    void unitStarted(std::size_t unit) override
    {
        m_runner.post([unit](BatchRunner& r) { emit r.unitStarted(static_cast<int>(unit)); });
    }
    void message(std::size_t unit, const std::string& text) override
    {
        m_runner.post([unit, text = QString::fromStdString(text)](BatchRunner& r) {
            emit r.unitMessage(static_cast<int>(unit), text);
        });
    }
    void stage(std::size_t unit, int stage) override
    {
        m_runner.post(
            [unit, stage](BatchRunner& r) { emit r.unitStage(static_cast<int>(unit), stage); });
    }
    void progress(std::size_t unit, int percent) override
    {
        m_runner.post([unit, percent](BatchRunner& r) {
            emit r.unitProgress(static_cast<int>(unit), percent);
        });
    }
    void unitFinished(std::size_t unit, const service::UnitOutcome& outcome) override
    {
        m_runner.post([unit, outcome](BatchRunner& r) {
            emit r.unitFinished(static_cast<int>(unit), outcome);
        });
    }

private:
    BatchRunner& m_runner;
};

BatchRunner::BatchRunner(QObject* parent) : QObject(parent) {}

BatchRunner::~BatchRunner()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
}

bool BatchRunner::start(BatchRequest request)
{
    if (m_running)
        return false;
    if (m_thread.joinable())
        m_thread.join(); // the last run has ended; only its thread is left
    m_running = true;
    m_thread = std::jthread([this, request = std::move(request)](std::stop_token stop) mutable {
        run(stop, std::move(request));
    });
    return true;
}

void BatchRunner::stop()
{
    if (m_running)
        m_thread.request_stop();
}

void BatchRunner::post(std::function<void(BatchRunner&)> call)
{
    QMetaObject::invokeMethod(
        this, [this, call = std::move(call)] { call(*this); }, Qt::QueuedConnection);
}

void BatchRunner::run(std::stop_token stop, BatchRequest request)
{
    std::optional<service::BatchOutcome> batch;
    {
        std::unique_ptr<record::ProductionRecord> record;
        if (!request.recordLocation.empty()) {
            auto opened = record::openProductionRecord(request.recordLocation);
            if (!opened) {
                const QString reason = messageQString(MessageId::CannotWriteRecord) +
                                       QStringLiteral("\n\n") +
                                       QString::fromStdString(opened.failure().text());
                post([reason](BatchRunner& r) {
                    r.m_running = false;
                    emit r.recordUnavailable(reason);
                });
                return;
            }
            record = std::move(*opened);
        }
        request.plan.record = record.get();
        QueuedUnitObserver observer(*this);
        service::DownloadService downloads(std::move(request.plan));
        batch = downloads.runBatch(request.units, request.options, observer, stop);
    } // the record is closed before the run is told ended, so others may read it at once
    post([batch = std::move(*batch)](BatchRunner& r) {
        r.m_running = false;
        emit r.runFinished(batch);
    });
}

} // namespace tolvane
