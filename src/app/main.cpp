#include "gui/upgrade_app.h"

#include <csignal>

int main(int argc, char** argv)
{
    // A save at the file-size limit must fail with its message (EFBIG), not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    tolvane::UpgradeApp app(argc, argv);
    return app.run();
}
