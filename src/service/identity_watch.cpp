#include "service/identity_watch.h"

#include "core/transfer/wire_words.h"

namespace tolvane::service {

namespace {

bool carriesIdentity(std::uint32_t typeCode)
{
    return typeCode == TypeCode::IntegratedImage || typeCode == TypeCode::MacAddress ||
           typeCode == TypeCode::SerialNumber || typeCode == TypeCode::MacAndSerial;
}

} // namespace

TransferResult IdentityWatch::runTransfer(const DownloadJob& job)
{
    const TransferResult result = m_inner.runTransfer(job);
    if (carriesIdentity(job.typeCode)) {
        // An operator that cannot tell counts as one whose transfer went all the way.
        m_identityReach = result == TransferResult::Ok
                              ? TransferReach::Completed
                              : m_inner.lastTransferReach().value_or(TransferReach::WholePayload);
    }
    return result;
}

bool IdentityWatch::identityMayHaveArrived() const
{
    return m_identityReach && *m_identityReach != TransferReach::Completed &&
           mayHaveWholePayload(*m_identityReach);
}

} // namespace tolvane::service
