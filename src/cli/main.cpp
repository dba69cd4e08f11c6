#include "cli/cli.h"

#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // A recorder closing the connection must show as a failed send, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    // A save at the file-size limit must fail with its message (EFBIG), not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    tolvane::cli::CliSettings settings;
    settings.terminal = ::isatty(STDERR_FILENO) == 1;
    winsize size{};
    if (*settings.terminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        settings.terminalColumns = size.ws_col;
        settings.terminalRows = size.ws_row;
    }

    // Standard output carries only results a script reads (a version, the next MAC address, the
    // --json lines); messages, progress and decoder diagnostics go to stderr.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = tolvane::cli::runCli(args, std::cout, std::cerr, settings);
    std::cout.flush();
    return status;
}
