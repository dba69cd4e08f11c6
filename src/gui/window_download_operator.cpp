#include "gui/window_download_operator.h"

#include "gui/download_window.h"
#include "gui/prompter.h"

namespace tolvane {

WindowDownloadOperator::WindowDownloadOperator(Prompter& prompter, QWidget* parent)
    : m_prompter(prompter), m_parent(parent)
{
}

void WindowDownloadOperator::showMessage(MessageId id)
{
    m_prompter.showMessage(m_parent, id);
}

TransferResult WindowDownloadOperator::runTransfer(const DownloadJob& job)
{
    DownloadJob ownJob = job;
    if (m_deadlines)
        ownJob.deadlines = *m_deadlines;
    DownloadWindow window(ownJob, m_prompter, m_parent);
    const bool accepted = window.exec() == QDialog::Accepted;
    m_lastTransferMessage = window.shownMessage();
    m_lastTransferReach = window.transferReach();
    return accepted ? TransferResult::Ok : TransferResult::Cancel;
}

} // namespace tolvane
