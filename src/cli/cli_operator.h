#pragma once

#include "image/download_operator.h"
#include "progress_board.h"
#include "transfer/download_job.h"

#include <cstddef>
#include <string>

namespace tolvane::cli {

// Runs a download routine's transfers for one unit: synchronously, on the calling thread, with the
// deadlines of this program, showing messages and progress on the board.
class CliOperator : public DownloadOperator {
public:
    CliOperator(ProgressBoard& board, std::size_t unit, const DownloadDeadlines& deadlines);

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;

    // Prints a text of this program's own (not from the message table) for the unit.
    void showText(const std::string& text);
    // The last text shown, for the summary and the record.
    const std::string& lastMessage() const { return m_lastMessage; }
    int transfersRun() const { return m_transfersRun; }

private:
    ProgressBoard& m_board;
    std::size_t m_unit;
    DownloadDeadlines m_deadlines;
    std::string m_lastMessage;
    int m_transfersRun = 0;
};

} // namespace tolvane::cli
