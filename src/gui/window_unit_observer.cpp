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
    MessageId id = MessageId::MacAlreadyUsed;
    if (refusal.reason == service::Refusal::Reason::RecordFailed)
        id = MessageId::CannotWriteRecord;
    else if (refusal.reason == service::Refusal::Reason::SerialUsed)
        id = MessageId::SerialAlreadyUsed;
    return detailedText(id, refusal.detail);
}

std::string windowHeldText(const std::string& held)
{
    return detailedText(MessageId::UnitUnconfirmed, held);
}

} // namespace tolvane
