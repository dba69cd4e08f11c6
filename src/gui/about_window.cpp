#include "gui/about_window.h"

#include "gui/app_icon.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tolvane {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("Quenlar Information"));
    if (QFontDatabase::families().contains(QStringLiteral("Arial")))
        setFont(QFont(QStringLiteral("Arial"), 9));
    const QIcon icon = tolvaneIcon();
    setWindowIcon(icon);

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("aboutIcon"));
    iconLabel->setPixmap(icon.pixmap(32, 32));
    iconLabel->setAccessibleName(QStringLiteral("Program icon"));

    auto* versionLine = new QLabel(QStringLiteral("Quenlar Ver 1.3"), this);
    versionLine->setObjectName(QStringLiteral("aboutVersionLine"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("aboutOkButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(iconLabel);
    row->addWidget(versionLine, 1);
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
}

} // namespace tolvane
