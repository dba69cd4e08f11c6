#pragma once

#include "core/download/download_routines.h"

#include <QApplication>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace tolvane {

class Prompter;
class UpgradeWindow;

// What the command line asks of the desktop program.
struct StartOptions {
    std::optional<QString> recordPath; // --record RECORD, as the toolkit decoded it
    // The same as the bytes given, when known: a file name need not be UTF-8.
    std::optional<std::string> recordBytes;
    std::optional<DownloadTarget> target; // --target HOST[:PORT]
    std::optional<QString> imagePath;     // the positional IMAGE
    bool production = false;              // --production: the production window instead
};

// A command line read: the options to open the window with, or the text to print and the exit
// status to end with (help and version on stdout with 0, a usage error on stderr with 2).
struct CommandLine {
    std::optional<StartOptions> options;
    QString text;
    int exitStatus = 0;
};

// Reads arguments (the program name first). Needs no display: a QCoreApplication is enough.
// rawArguments, the same words as the process got them, keep the record's location byte for byte.
CommandLine readCommandLine(const QStringList& arguments,
                            const std::vector<std::string>& rawArguments = {});

// Puts the target and image path of options into the window's fields; the rest keep their start
// values.
void applyStartOptions(UpgradeWindow& window, const StartOptions& options);

// The desktop program: prepares the process for sockets, then runs the main window until it
// closes.
class UpgradeApp : public QApplication {
    Q_OBJECT
public:
    UpgradeApp(int& argc, char** argv);

    // Runs the program and answers its exit status.
    int run(const StartOptions& options);
    int run(Prompter& prompter, const StartOptions& options);

    // A peer closing a socket must cost a transfer an error code, not the process its life.
    static bool initSocketLayer();
};

} // namespace tolvane
