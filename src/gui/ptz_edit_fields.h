#pragma once

#include <QLineEdit>

namespace tolvane {

// The Number field of the PTZ editor: typed digits and backspace go through, every other typed
// character is dropped with a beep. Pasted text is let through; the editor's integer check
// catches it when it reads the field.
class DigitEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DigitEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A field for one byte as two hexadecimal digits: it takes hexadecimal digits only (typed or
// pasted; anything else is refused whole), letters turn upper case as they arrive, and it takes
// at most two characters. Text set by the program is not checked; the editor reads it leniently.
class HexByteEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit HexByteEdit(QWidget* parent = nullptr);
};

} // namespace tolvane
