#include "gui/window_unit_observer.h"

#include "core/base/messages.h"
#include "gui/prompter.h"

namespace tolvane {

namespace {

// The numbered message, then the detail.
std::string detailedText(MessageId id, const std::string& detail)
{
    return std::string(messageText(id)) + "\n\n" + detail;
}

} // namespace

void WindowUnitObserver::message(std::size_t, const std::string& text)
{
    m_prompter.showMessage(m_parent, QString::fromStdString(text));
}

void WindowUnitObserver::reportRecordFailure(const service::UnitOutcome& outcome)
{
    if (outcome.recordFailure && outcome.result != service::UnitResult::Refused)
        message(0, detailedText(MessageId::CannotWriteRecord, outcome.recordFailure->text()));
}

std::string windowRefusalText(const service::Refusal& refusal)
{
    const MessageId id = refusal.reason == service::Refusal::Reason::RecordFailed
                             ? MessageId::CannotWriteRecord
                             : MessageId::MacAlreadyUsed;
    return detailedText(id, refusal.detail);
}

} // namespace tolvane
