#include "gui/upgrade_app.h"

#include "core/base/messages.h"
#include "gui/app_icon.h"
#include "gui/prompter.h"
#include "gui/upgrade_window.h"
#include "record/production_record.h"

#include <QCommandLineParser>

#include <csignal>

namespace tolvane {

UpgradeApp::UpgradeApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setApplicationVersion(QStringLiteral("3.7"));
    setWindowIcon(tolvaneIcon());
}

bool UpgradeApp::initSocketLayer()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int UpgradeApp::run()
{
    QtPrompter prompter;
    return run(prompter);
}

int UpgradeApp::run(Prompter& prompter)
{
    if (!initSocketLayer()) {
        prompter.showMessage(nullptr, MessageId::SocketLayerStartFailed);
        return 1;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tolvane: firmware, PTZ tables and identities for DVRs."));
    parser.addHelpOption();
    const QCommandLineOption recordOption(
        QStringLiteral("record"),
        QStringLiteral("Keep every download in the production record FILE.db and refuse a MAC "
                       "address it shows used."),
        QStringLiteral("FILE.db"));
    parser.addOption(recordOption);
    parser.process(arguments());

    std::unique_ptr<record::ProductionRecord> productionRecord;
    if (parser.isSet(recordOption)) {
        std::string error;
        productionRecord =
            record::openProductionRecord(parser.value(recordOption).toStdString(), &error);
        if (!productionRecord) {
            prompter.showMessage(nullptr, messageQString(MessageId::CannotWriteRecord) +
                                              QStringLiteral("\n\n") +
                                              QString::fromStdString(error));
            return 1;
        }
    }
    UpgradeWindow window(prompter);
    window.setProductionRecord(productionRecord.get());
    window.exec();
    return 0;
}

} // namespace tolvane
