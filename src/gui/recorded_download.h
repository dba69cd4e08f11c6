#pragma once

#include "core/download/download_routines.h"
#include "gui/prompter.h"

#include <functional>

namespace tolvane {

namespace record {
class ProductionRecord;
}

using DownloadRunner =
    std::function<RoutineOutcome(DownloadType, const DownloadInputs&, DownloadOperator&)>;

// Passes everything on to another prompter and remembers the last message shown, so the
// production record can say why a download failed.
class MessageTap : public Prompter {
public:
    explicit MessageTap(Prompter& inner) : m_inner(inner) {}
    using Prompter::showMessage;
    void showMessage(QWidget* parent, const QString& text) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const QString& caption, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& caption, const QString& filter,
                     const QString& defaultSuffix) override;

    const QString& lastMessage() const { return m_lastMessage; }

private:
    Prompter& m_inner;
    QString m_lastMessage;
};

// Runs one download from the main window with its rows in the production record: a MAC address is
// reserved before it can go out (a used one is refused with a message naming the unit that has
// it), and the outcome is written after.
RoutineOutcome runRecordedDownload(record::ProductionRecord& record, const DownloadRunner& run,
                                   DownloadType type, const DownloadInputs& inputs,
                                   DownloadOperator& op, MessageTap& prompter, QWidget* parent);

} // namespace tolvane
