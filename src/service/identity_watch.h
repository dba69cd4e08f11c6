#pragma once

#include "core/download/download_operator.h"

#include <optional>

namespace tolvane::service {

// Passes a routine's calls on to the operator, noting how far the last transfer that carried the
// unit's identity (its MAC address or serial number) got.
class IdentityWatch : public DownloadOperator {
public:
    explicit IdentityWatch(DownloadOperator& inner) : m_inner(inner) {}

    void showMessage(MessageId id) override { m_inner.showMessage(id); }
    TransferResult runTransfer(const DownloadJob& job) override;
    std::optional<MessageId> lastTransferMessage() const override
    {
        return m_inner.lastTransferMessage();
    }
    std::optional<TransferReach> lastTransferReach() const override
    {
        return m_inner.lastTransferReach();
    }
    std::ostream& diagnostics() override { return m_inner.diagnostics(); }

    // Whether a failed transfer of the identity may have left it on the recorder all the same.
    bool identityMayHaveArrived() const;

private:
    DownloadOperator& m_inner;
    std::optional<TransferReach> m_identityReach;
};

} // namespace tolvane::service
