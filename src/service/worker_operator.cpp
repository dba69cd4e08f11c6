#include "service/worker_operator.h"

#include "core/base/messages.h"
#include "core/transfer/download_worker.h"

namespace tolvane::service {

namespace {

class StageObserver : public DownloadObserver {
public:
    StageObserver(UnitObserver& observer, std::size_t unit) : m_observer(observer), m_unit(unit) {}
    // The error's message is shown once the worker has returned.
    void error(int) override {}
    void stage(int stage) override { m_observer.stage(m_unit, stage); }
    void progress(int percent) override { m_observer.progress(m_unit, percent); }

private:
    UnitObserver& m_observer;
    std::size_t m_unit;
};

} // namespace

NoteLineBuffer::int_type NoteLineBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    if (ch == '\n')
        sync();
    else
        m_line.push_back(ch);
    return c;
}

int NoteLineBuffer::sync()
{
    if (!m_line.empty()) {
        m_messages.note(m_line);
        m_line.clear();
    }
    return 0;
}

WorkerOperator::WorkerOperator(UnitMessages& messages, const DownloadDeadlines& deadlines)
    : m_messages(messages), m_deadlines(deadlines), m_diagnosticLines(messages),
      m_diagnostics(&m_diagnosticLines)
{
}

void WorkerOperator::showMessage(MessageId id)
{
    m_messages.show(std::string(messageText(id)));
}

TransferResult WorkerOperator::runTransfer(const DownloadJob& job)
{
    DownloadJob ours = job;
    ours.deadlines = m_deadlines;
    UnitObserver& observer = m_messages.observer();
    observer.transferStarted(m_messages.unit(), ours.typeCode);
    StageObserver stages(observer, m_messages.unit());
    DownloadWorker worker(ours, stages);
    const int code = worker.run();
    m_lastReach = worker.reach();
    if (code == WorkerError::None)
        return TransferResult::Ok;
    if (const auto id = messageForWorkerError(code))
        showMessage(*id);
    else
        m_messages.show("The transfer failed with error code " + std::to_string(code) + ".");
    // What the socket layer said, for whoever has to find the fault.
    if (!worker.failureDetail().empty())
        m_messages.note("(" + worker.failureDetail() + ")");
    return TransferResult::Cancel;
}

} // namespace tolvane::service
