#pragma once

#include <QDialog>

namespace tolvane {

// The About box: icon, program line and OK.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

} // namespace tolvane
