#pragma once

#include "core/base/messages.h"
#include "core/transfer/download_job.h"
#include "core/transfer/transfer_reach.h"

#include <iostream>
#include <optional>

namespace tolvane {

enum class TransferResult { Ok = 1, Cancel = 2 };

// What a download routine needs from whoever runs it: a way to tell the operator a numbered
// message, and a way to run one transfer to its end. The desktop program shows message boxes and a
// modal progress window; the command line prints; tests record.
class DownloadOperator {
public:
    virtual ~DownloadOperator() = default;
    virtual void showMessage(MessageId id) = 0;
    // Runs the transfer; any failure has been reported to the operator when this returns Cancel.
    virtual TransferResult runTransfer(const DownloadJob& job) = 0;
    // The message the last transfer showed the operator on its own (a progress window telling of
    // a worker error), if any, so that whoever passes the operator on knows every message shown.
    virtual std::optional<MessageId> lastTransferMessage() const { return std::nullopt; }
    // How far the last transfer got, when the operator can tell.
    virtual std::optional<TransferReach> lastTransferReach() const { return std::nullopt; }
    // Where the image decoder's diagnostic lines go; the operator never sees them in a window.
    virtual std::ostream& diagnostics() { return std::cout; }
};

} // namespace tolvane
