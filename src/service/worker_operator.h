#pragma once

#include "core/download/download_operator.h"
#include "core/transfer/download_job.h"
#include "service/unit_messages.h"

#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace tolvane::service {

// Hands each complete line written to it to the unit's observer as a note.
class NoteLineBuffer : public std::streambuf {
public:
    explicit NoteLineBuffer(UnitMessages& messages) : m_messages(messages) {}
    ~NoteLineBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    UnitMessages& m_messages;
    std::string m_line;
};

// Runs a batch unit's transfers synchronously on the unit's thread with the run's deadlines, and
// tells the unit's observer everything: messages, transfers, stages, progress, diagnostics.
class WorkerOperator : public DownloadOperator {
public:
    WorkerOperator(UnitMessages& messages, const DownloadDeadlines& deadlines);

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;
    std::ostream& diagnostics() override { return m_diagnostics; }
    std::optional<TransferReach> lastTransferReach() const override { return m_lastReach; }

private:
    UnitMessages& m_messages;
    DownloadDeadlines m_deadlines;
    NoteLineBuffer m_diagnosticLines;
    std::ostream m_diagnostics;
    std::optional<TransferReach> m_lastReach;
};

} // namespace tolvane::service
