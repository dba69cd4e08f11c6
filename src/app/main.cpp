#include "gui/upgrade_app.h"

int main(int argc, char** argv)
{
    tolvane::UpgradeApp app(argc, argv);
    return app.run();
}
