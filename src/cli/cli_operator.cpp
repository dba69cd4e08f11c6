#include "cli/cli_operator.h"

#include "core/base/messages.h"
#include "core/transfer/download_worker.h"

namespace tolvane::cli {

namespace {

class BoardObserver : public DownloadObserver {
public:
    BoardObserver(ProgressBoard& board, std::size_t unit) : m_board(board), m_unit(unit) {}
    // The error's message is shown once the worker has returned.
    void error(int) override {}
    void stage(int stage) override { m_board.stage(m_unit, stage); }
    void progress(int percent) override { m_board.progress(m_unit, percent); }

private:
    ProgressBoard& m_board;
    std::size_t m_unit;
};

} // namespace

BoardLineBuffer::int_type BoardLineBuffer::overflow(int_type c)
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

int BoardLineBuffer::sync()
{
    if (!m_line.empty()) {
        m_board.message(m_unit, m_line);
        m_line.clear();
    }
    return 0;
}

CliOperator::CliOperator(ProgressBoard& board, std::size_t unit, const DownloadDeadlines& deadlines)
    : m_board(board), m_unit(unit), m_deadlines(deadlines), m_diagnosticLines(board, unit),
      m_diagnostics(&m_diagnosticLines)
{
}

void CliOperator::showMessage(MessageId id)
{
    showText(std::string(messageText(id)));
}

void CliOperator::showText(const std::string& text)
{
    m_lastMessage = text;
    m_board.message(m_unit, text);
}

TransferResult CliOperator::runTransfer(const DownloadJob& job)
{
    DownloadJob ours = job;
    ours.deadlines = m_deadlines;
    ++m_transfersRun;
    m_board.transferStarted(m_unit, ours.typeCode);
    BoardObserver observer(m_board, m_unit);
    DownloadWorker worker(ours, observer);
    const int code = worker.run();
    if (code == WorkerError::None)
        return TransferResult::Ok;
    if (const auto id = messageForWorkerError(code))
        showMessage(*id);
    else
        showText("The transfer failed with error code " + std::to_string(code) + ".");
    // What the socket layer said, for whoever has to find the fault.
    if (!worker.failureDetail().empty())
        m_board.message(m_unit, "(" + worker.failureDetail() + ")");
    return TransferResult::Cancel;
}

} // namespace tolvane::cli
