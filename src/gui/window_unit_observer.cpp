#include "gui/window_unit_observer.h"

#include "core/base/messages.h"
#include "gui/prompter.h"

#include <cstring>

namespace tolvane {

namespace {

// Between the numbered message and its detail in the texts the service keeps.
constexpr const char* DetailSeparator = "\n\n";

// The numbered message, then the detail.
std::string detailedText(MessageId id, const std::string& detail)
{
    return std::string(messageText(id)) + DetailSeparator + detail;
}

} // namespace

// Every text the service shows a window is about a unit that did not go as asked: the numbered
// message in the box's text, what follows it (the record's words, the system's reason) as its
// detail.
void WindowUnitObserver::message(std::size_t, const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    const qsizetype split = shown.indexOf(QLatin1String(DetailSeparator));
    if (split < 0)
        m_prompter.showMessage(m_parent, shown, QString(), Prompter::Severity::Warning);
    else
        m_prompter.showMessage(m_parent, shown.left(split),
                               shown.mid(split + qsizetype(std::strlen(DetailSeparator))),
                               Prompter::Severity::Warning);
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
