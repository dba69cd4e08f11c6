#include "gui/prompter.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace tolvane {

namespace {
const QString boxTitle = QStringLiteral("Tolvane");
}

QString messageQString(MessageId id)
{
    const std::string_view text = messageText(id);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Prompter::showMessage(QWidget* parent, MessageId id, const QString& detail)
{
    const Severity severity =
        messageSeverity(id) == MessageSeverity::Error ? Severity::Warning : Severity::Information;
    showMessage(parent, messageQString(id), detail, severity);
}

void QtPrompter::showMessage(QWidget* parent, const QString& text, const QString& detail,
                             Severity severity)
{
    QMessageBox box(severity == Severity::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    boxTitle, text, QMessageBox::Ok, parent);
    // Shown under the text at once, not behind a button: it names the address or the file.
    box.setInformativeText(detail);
    box.exec();
}

bool QtPrompter::askYesNo(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, boxTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

Prompter::Answer QtPrompter::askYesNoCancel(QWidget* parent, const QString& text)
{
    // Cancel is the default and the answer of Escape and the close box: nothing is lost.
    switch (QMessageBox::question(parent, boxTitle, text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                  QMessageBox::Cancel)) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
    }
}

QString QtPrompter::openFile(QWidget* parent, const QString& caption, const QString& filter)
{
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtPrompter::saveFile(QWidget* parent, const QString& caption, const QString& filter,
                             const QString& defaultSuffix)
{
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtPrompter::askText(QWidget* parent, const QString& caption,
                                           const QString& label)
{
    bool accepted = false;
    const QString text =
        QInputDialog::getText(parent, caption, label, QLineEdit::Normal, QString(), &accepted);
    if (!accepted)
        return std::nullopt;
    return text;
}

} // namespace tolvane
