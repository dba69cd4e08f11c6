#include "service/unit_messages.h"

namespace tolvane::service {

void UnitMessages::show(const std::string& text)
{
    m_last = text;
    m_observer.message(m_unit, text);
}

void KeepingOperator::showMessage(MessageId id)
{
    m_messages.shownByOperator(std::string(messageText(id)));
    m_inner.showMessage(id);
}

TransferResult KeepingOperator::runTransfer(const DownloadJob& job)
{
    const TransferResult result = m_inner.runTransfer(job);
    if (const auto shown = m_inner.lastTransferMessage())
        m_messages.shownByOperator(std::string(messageText(*shown)));
    return result;
}

} // namespace tolvane::service
