#include "gui/production/production_window.h"

#include "gui/production/production_download_tab.h"
#include "gui/prompter.h"
#include "gui/units/units_view.h"
#include "gui/upgrade_app.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTabWidget>

namespace tolvane {

ProductionWindow::ProductionWindow(Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), m_prompter(prompter)
{
    setObjectName(QStringLiteral("productionWindow"));
    setWindowTitle(QStringLiteral("Tolvane Production"));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("productionTabs"));
    m_downloadTab = new ProductionDownloadTab(prompter, m_tabs);
    m_tabs->addTab(m_downloadTab, QStringLiteral("Download"));
    setCentralWidget(m_tabs);
    connect(m_downloadTab, &ProductionDownloadTab::recordLocationChanged, this,
            &ProductionWindow::recordLocationChanged);
    connect(m_downloadTab, &ProductionDownloadTab::unitEnded, this, &ProductionWindow::unitEnded);
    resize(900, 640);
}

void ProductionWindow::addTab(QWidget* page, const QString& title)
{
    m_tabs->addTab(page, title);
}

QString ProductionWindow::recordLocation() const
{
    return m_downloadTab->recordLocation();
}

void ProductionWindow::closeEvent(QCloseEvent* event)
{
    // Units already sending finish either way; the operator decides whether to wait for them.
    if (m_downloadTab->running() &&
        !m_prompter.askYesNo(this, QStringLiteral("Units are still being sent. Close when they "
                                                  "have finished? No new unit starts."))) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

UnitsView* addUnitsTab(ProductionWindow& window, Prompter& prompter)
{
    auto* units = new UnitsView(prompter);
    window.addTab(units, QStringLiteral("Units"));
    QObject::connect(&window, &ProductionWindow::recordLocationChanged, units,
                     [units](const QString& location) {
                         units->setRecordLocation(location);
                         units->refresh();
                     });
    QObject::connect(&window, &ProductionWindow::unitEnded, units, &UnitsView::refresh);
    units->setRecordLocation(window.recordLocation());
    units->refresh();
    return units;
}

int runProductionWindow(QApplication& app)
{
    QtPrompter prompter;
    if (!UpgradeApp::initSocketLayer()) {
        prompter.showMessage(nullptr, MessageId::SocketLayerStartFailed);
        return 1;
    }
    ProductionWindow window(prompter);
    addUnitsTab(window, prompter);
    window.show();
    return app.exec();
}

} // namespace tolvane
