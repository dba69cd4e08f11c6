#include "gui/production/production_window.h"
#include "gui/upgrade_app.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // A save at the file-size limit must fail with its message (EFBIG), not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    tolvane::CommandLine commandLine;
    {
        // Help, version and a bad argument need no display: read them before the QApplication.
        // The help's usage line names the program by its first argument: "tolvane", not the
        // path it was started by.
        std::vector<char*> named(argv, argv + argc);
        char programName[] = "tolvane";
        if (!named.empty())
            named[0] = programName;
        int namedCount = argc;
        QCoreApplication reader(namedCount, named.data());
        commandLine = tolvane::readCommandLine(QCoreApplication::arguments(),
                                               std::vector<std::string>(argv, argv + argc));
    }
    if (!commandLine.options) {
        const QByteArray text = commandLine.text.toLocal8Bit();
        std::fputs(text.constData(), commandLine.exitStatus == 0 ? stdout : stderr);
        return commandLine.exitStatus;
    }
    tolvane::UpgradeApp app(argc, argv);
    if (commandLine.options->production)
        return tolvane::runProductionWindow(app);
    return app.run(*commandLine.options);
}
