#include "gui/ptz_edit_fields.h"

#include <QApplication>
#include <QKeyEvent>
#include <QValidator>

namespace tolvane {

namespace {

// Keys that edit or move without typing a character, or that belong to the dialog.
bool isEditingKey(int key)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete: return true;
    default: return false;
    }
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// Takes hexadecimal digits only, typed or pasted, turned upper case as they arrive: what the
// field shows is then what is stored.
class HexDigitValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        const QString upper = input.toUpper();
        for (const QChar c : upper) {
            if (!isHexDigit(c))
                return Invalid;
        }
        input = upper;
        return Acceptable;
    }
};

} // namespace

DigitEdit::DigitEdit(QWidget* parent) : QLineEdit(parent) {}

void DigitEdit::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (text.isEmpty() || isEditingKey(event->key())) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QChar c = text.front();
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (text.size() == 1 && (digit || c == QChar(8))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QApplication::beep();
    event->accept();
}

HexByteEdit::HexByteEdit(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(2);
    setValidator(new HexDigitValidator(this));
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("WW"));
    setMinimumWidth(width + 8);
    setMaximumWidth(width + 16);
}

} // namespace tolvane
