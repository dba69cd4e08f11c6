#include "gui/upgrade_app.h"

#include "core/base/messages.h"
#include "gui/app_icon.h"
#include "gui/prompter.h"
#include "gui/upgrade_window.h"

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
    UpgradeWindow window(prompter);
    window.exec();
    return 0;
}

} // namespace tolvane
