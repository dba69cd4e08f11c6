#pragma once

#include <QApplication>

namespace tolvane {

class Prompter;

// The desktop program: prepares the process for sockets, then runs the main window until it
// closes.
class UpgradeApp : public QApplication {
    Q_OBJECT
public:
    UpgradeApp(int& argc, char** argv);

    // Runs the program and answers its exit status.
    int run();
    int run(Prompter& prompter);

    // A peer closing a socket must cost a transfer an error code, not the process its life.
    static bool initSocketLayer();
};

} // namespace tolvane
