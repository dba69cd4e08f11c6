#pragma once

#include "core/transfer/download_job.h"

#include <QMainWindow>
#include <QString>

class QApplication;
class QTabWidget;

namespace tolvane {

class Prompter;
class ProductionDownloadTab;
class UnitsView;

// "Tolvane Production": many recorders at once over the production record. The download tab
// comes first; other views of the record are added as tabs after it.
class ProductionWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ProductionWindow(Prompter& prompter, QWidget* parent = nullptr);

    void addTab(QWidget* page, const QString& title);
    ProductionDownloadTab& downloadTab() const { return *m_downloadTab; }
    // The record the download tab names now.
    QString recordLocation() const;

signals:
    void recordLocationChanged(const QString& location);
    // On this window's thread, after each unit's outcome has reached its row and the record.
    void unitEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Prompter& m_prompter;
    QTabWidget* m_tabs = nullptr;
    ProductionDownloadTab* m_downloadTab = nullptr;
};

// The record's units as the window's "Units" tab, read again when the record changes and after
// each unit.
UnitsView* addUnitsTab(ProductionWindow& window, Prompter& prompter);

// The production window as the desktop program runs it, with the real dialogs, until it closes;
// answers the exit status.
int runProductionWindow(QApplication& app);

} // namespace tolvane
