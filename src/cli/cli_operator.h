#pragma once

#include "cli/progress_board.h"
#include "core/download/download_operator.h"
#include "core/transfer/download_job.h"

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace tolvane::cli {

// Hands each complete line written to it to the board as a message of one unit, so lines from
// several units' threads never break into one another or into the progress display.
class BoardLineBuffer : public std::streambuf {
public:
    BoardLineBuffer(ProgressBoard& board, std::size_t unit) : m_board(board), m_unit(unit) {}
    ~BoardLineBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    ProgressBoard& m_board;
    std::size_t m_unit;
    std::string m_line;
};

// Runs a download routine's transfers for one unit: synchronously, on the calling thread, with the
// deadlines of this program, showing messages and progress on the board.
class CliOperator : public DownloadOperator {
public:
    CliOperator(ProgressBoard& board, std::size_t unit, const DownloadDeadlines& deadlines);

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;
    std::ostream& diagnostics() override { return m_diagnostics; }

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
    BoardLineBuffer m_diagnosticLines;
    std::ostream m_diagnostics;
};

} // namespace tolvane::cli
