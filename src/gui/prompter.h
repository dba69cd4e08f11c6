#pragma once

#include "core/base/messages.h"

#include <QString>

#include <optional>

class QWidget;

namespace tolvane {

// The text of a numbered message as Qt wants it.
QString messageQString(MessageId id);

// Everything a window asks of the operator in a modal dialog. Windows take one by reference so
// tests can answer with a script instead of blocking on a real dialog.
class Prompter {
public:
    // An error is shown with the warning icon, anything else with the information icon.
    enum class Severity { Information, Warning };
    enum class Answer { Yes, No, Cancel };

    virtual ~Prompter() = default;
    // The detail (what was being done to which address or file, and the system's reason) is
    // shown under the text; empty when there is none.
    virtual void showMessage(QWidget* parent, const QString& text, const QString& detail,
                             Severity severity) = 0;
    virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
    // Yes, No, or Cancel to leave everything as it was.
    virtual Answer askYesNoCancel(QWidget* parent, const QString& text) = 0;
    // Empty when the operator cancels.
    virtual QString openFile(QWidget* parent, const QString& caption, const QString& filter) = 0;
    // Empty when the operator cancels; the dialog asks before overwriting a file.
    virtual QString saveFile(QWidget* parent, const QString& caption, const QString& filter,
                             const QString& defaultSuffix) = 0;
    // One line of text; nothing when the operator cancels.
    virtual std::optional<QString> askText(QWidget* parent, const QString& caption,
                                           const QString& label) = 0;

    void showMessage(QWidget* parent, const QString& text)
    {
        showMessage(parent, text, QString(), Severity::Information);
    }
    // A numbered message with the icon its kind asks for.
    void showMessage(QWidget* parent, MessageId id, const QString& detail = QString());
};

// The real dialogs: message boxes and file dialogs.
class QtPrompter : public Prompter {
public:
    using Prompter::showMessage;
    void showMessage(QWidget* parent, const QString& text, const QString& detail,
                     Severity severity) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    Answer askYesNoCancel(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const QString& caption, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& caption, const QString& filter,
                     const QString& defaultSuffix) override;
    std::optional<QString> askText(QWidget* parent, const QString& caption,
                                   const QString& label) override;
};

} // namespace tolvane
