#include "gui/window_download_operator.h"

#include "gui/download_window.h"
#include "gui/prompter.h"
#include "service/image_file.h"

namespace tolvane {

WindowDownloadOperator::WindowDownloadOperator(Prompter& prompter, QWidget* parent)
    : m_prompter(prompter), m_parent(parent)
{
}

namespace {

bool isAboutTheFile(MessageId id)
{
    switch (id) {
    case MessageId::NoImageFile:
    case MessageId::CannotOpenImageFile:
    case MessageId::InvalidFileSize:
    case MessageId::InvalidData:
    case MessageId::InvalidPtzImage:
    case MessageId::OutOfMemoryReadingImage:
    case MessageId::PayloadTooLarge: return true;
    default: return false;
    }
}

// The file, with the system's reason when it cannot be opened.
QString fileDetail(const std::string& path)
{
    const auto readable = service::checkFileReadable(path);
    const std::string detail = readable ? path : readable.failure().text();
    return QString::fromLocal8Bit(detail.data(), static_cast<qsizetype>(detail.size()));
}

} // namespace

void WindowDownloadOperator::showMessage(MessageId id)
{
    if (isAboutTheFile(id) && !m_imageFile.empty())
        m_prompter.showMessage(m_parent, id, fileDetail(m_imageFile));
    else
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
