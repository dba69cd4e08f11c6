#pragma once

#include "core/download/download_operator.h"
#include "service/unit_observer.h"

#include <cstddef>
#include <string>

namespace tolvane::service {

// What one unit shows, as its observer hears it, with the last text shown kept for the unit's
// record row.
class UnitMessages {
public:
    UnitMessages(UnitObserver& observer, std::size_t unit) : m_observer(observer), m_unit(unit) {}

    // Shows text through the observer.
    void show(const std::string& text);
    // Keeps a text the front end's operator has shown itself.
    void shownByOperator(std::string text) { m_last = std::move(text); }
    void note(const std::string& text) { m_observer.note(m_unit, text); }

    const std::string& last() const { return m_last; }
    UnitObserver& observer() { return m_observer; }
    std::size_t unit() const { return m_unit; }

private:
    UnitObserver& m_observer;
    std::size_t m_unit;
    std::string m_last;
};

// The front end's operator as a routine sees it through the service: everything passes on, and
// every message shown is kept, both the routine's and those the operator's transfers show on
// their own.
class KeepingOperator : public DownloadOperator {
public:
    KeepingOperator(DownloadOperator& inner, UnitMessages& messages)
        : m_inner(inner), m_messages(messages)
    {
    }

    void showMessage(MessageId id) override;
    TransferResult runTransfer(const DownloadJob& job) override;
    std::ostream& diagnostics() override { return m_inner.diagnostics(); }
    std::optional<TransferReach> lastTransferReach() const override
    {
        return m_inner.lastTransferReach();
    }

private:
    DownloadOperator& m_inner;
    UnitMessages& m_messages;
};

} // namespace tolvane::service
