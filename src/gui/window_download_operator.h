#pragma once

#include "core/download/download_operator.h"

#include <optional>
#include <string>
#include <utility>

class QWidget;

namespace tolvane {

class Prompter;

// Runs a download routine's transfers in modal progress windows and shows its messages in
// message boxes.
class WindowDownloadOperator : public DownloadOperator {
public:
    WindowDownloadOperator(Prompter& prompter, QWidget* parent);

    // Replaces the time limits of every job this operator runs.
    void setDeadlines(const DownloadDeadlines& deadlines) { m_deadlines = deadlines; }
    // The file the routine sends, named in the detail of a message about it.
    void setImageFile(std::string path) { m_imageFile = std::move(path); }

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;
    std::optional<MessageId> lastTransferMessage() const override { return m_lastTransferMessage; }
    std::optional<TransferReach> lastTransferReach() const override { return m_lastTransferReach; }

private:
    Prompter& m_prompter;
    QWidget* m_parent;
    std::optional<DownloadDeadlines> m_deadlines;
    std::string m_imageFile;
    std::optional<MessageId> m_lastTransferMessage;
    std::optional<TransferReach> m_lastTransferReach;
};

} // namespace tolvane
