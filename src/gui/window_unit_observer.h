#pragma once

#include "service/unit_observer.h"

#include <string>

class QWidget;

namespace tolvane {

class Prompter;

// The main window's side of a recorded download: the texts the download service shows for the
// unit, in message boxes over the window. Called on the window's thread (runUnit).
class WindowUnitObserver : public service::UnitObserver {
public:
    WindowUnitObserver(Prompter& prompter, QWidget* parent) : m_prompter(prompter), m_parent(parent)
    {
    }

    void message(std::size_t unit, const std::string& text) override;

    // Tells the operator the unit's outcome could not be written, unless nothing was sent.
    void reportRecordFailure(const service::UnitOutcome& outcome);

private:
    Prompter& m_prompter;
    QWidget* m_parent;
};

// The window's words for a MAC address not sent: the numbered message, then why.
std::string windowRefusalText(const service::Refusal& refusal);
// The numbered message for an unconfirmed unit, then which identity stays held and how to free it.
std::string windowHeldText(const std::string& held);

} // namespace tolvane
