#pragma once

#include <QStyledItemDelegate>

namespace tolvane {

// Draws a cell as a progress bar: its percentage from Qt::UserRole, its text as displayed (so a
// screen reader reads the same text the bar shows).
class ProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace tolvane
