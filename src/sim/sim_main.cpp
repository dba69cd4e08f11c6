// tolvane-sim: a recorder on a TCP port for trying the tool without one.

#include "core/base/decimal_text.h"
#include "core/image/version_number.h"
#include "sim/demo_files.h"
#include "sim/simulator.h"
#include "tolvane_version.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>

using tolvane::Failure;
using tolvane::Result;
using tolvane::sim::Fault;
using tolvane::sim::SimulatorOptions;

namespace {

constexpr int ExitBadOptions = 2;

void printUsage(std::FILE* out)
{
    std::string faults;
    for (const auto& name : tolvane::sim::faultNames())
        faults += (faults.empty() ? "" : ", ") + name;
    std::fprintf(out,
                 "Usage: tolvane-sim [options]\n"
                 "Speaks the recorder's side of the download protocol.\n\n"
                 "  --listen HOST:PORT     address to listen on (default 127.0.0.1:5000;\n"
                 "                         port 0 picks a free one)\n"
                 "  --min-version X.Y.Z    refuse compatibility checks of older firmware\n"
                 "  --save-dir DIR         keep each received payload in DIR as NNNN-TYPE.bin,\n"
                 "                         numbered after the files already there (never\n"
                 "                         overwriting one)\n"
                 "  --write-time SECONDS   pause between the two acknowledgements\n"
                 "  --read-rate KIB_PER_SECOND\n"
                 "                         take the image in no faster than this (0: no limit)\n"
                 "  --fault MODE           misbehave: %s\n"
                 "  --write-demo-files DIR write demo images and PTZ files into DIR, then exit\n"
                 "  --help                 show this text\n"
                 "  --version              show the program's version\n\n"
                 "Serves until SIGINT or SIGTERM. Exit status: 0 after such a stop (or the demo\n"
                 "files written), 1 when it cannot listen or write the demo files, 2 for a usage\n"
                 "error.\n",
                 faults.c_str());
}

bool parseUnsigned(const std::string& text, unsigned long maximum, unsigned long& value)
{
    const auto number = tolvane::parseDecimal(text, maximum, 10);
    if (number)
        value = static_cast<unsigned long>(*number);
    return number.ok();
}

bool parseListen(const std::string& text, SimulatorOptions& options)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    unsigned long port = 0;
    if (!parseUnsigned(text.substr(colon + 1), 65535, port))
        return false;
    options.host = text.substr(0, colon);
    in_addr address{};
    if (::inet_pton(AF_INET, options.host.c_str(), &address) != 1)
        return false;
    options.port = static_cast<std::uint16_t>(port);
    return true;
}

// "3.5.1", each number 0 to 255, as the version number the tool sends.
bool parseVersion(const std::string& text, std::int32_t& version)
{
    unsigned long numbers[3] = {};
    std::size_t start = 0;
    for (unsigned long& number : numbers) {
        const bool last = &number == &numbers[2];
        const auto end = last ? text.size() : text.find('.', start);
        if (end == std::string::npos ||
            !parseUnsigned(text.substr(start, end - start), 255, number))
            return false;
        start = end + 1;
    }
    version = tolvane::packVersion(static_cast<std::uint32_t>(numbers[0]),
                                   static_cast<std::uint32_t>(numbers[1]),
                                   static_cast<std::uint32_t>(numbers[2]));
    return true;
}

bool parseSeconds(const std::string& text, std::chrono::milliseconds& duration)
{
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds < 0 ||
        seconds > 86400.0 * 365)
        return false;
    duration = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return true;
}

int badOption(const std::string& message)
{
    std::fprintf(stderr, "tolvane-sim: %s\nTry 'tolvane-sim --help'.\n", message.c_str());
    return ExitBadOptions;
}

struct Arguments {
    SimulatorOptions options;
    std::string demoDirectory;
};

bool isKnownOption(const std::string& option)
{
    return option == "--listen" || option == "--min-version" || option == "--save-dir" ||
           option == "--write-time" || option == "--fault" || option == "--read-rate" ||
           option == "--write-demo-files";
}

// Takes one option's value into arguments; a failure says what is wrong with it.
Result<void> applyOption(const std::string& option, const std::string& value, Arguments& arguments)
{
    SimulatorOptions& options = arguments.options;
    if (option == "--listen") {
        if (!parseListen(value, options))
            return Failure{0, "--listen wants IPV4-ADDRESS:PORT with a port of 0 to 65535, not '" +
                                  value + "'"};
    } else if (option == "--min-version") {
        std::int32_t version = 0;
        if (!parseVersion(value, version))
            return Failure{0, "--min-version wants X.Y.Z with numbers of 0 to 255, not '" + value +
                                  "'"};
        options.minimumVersion = version;
    } else if (option == "--save-dir") {
        if (value.empty())
            return Failure{0, "--save-dir wants a directory"};
        options.saveDirectory = value;
    } else if (option == "--write-time") {
        if (!parseSeconds(value, options.writeTime))
            return Failure{0, "--write-time wants a number of seconds, not '" + value + "'"};
    } else if (option == "--read-rate") {
        unsigned long kibPerSecond = 0;
        if (!parseUnsigned(value, 0xFFFFFFFFul, kibPerSecond))
            return Failure{0, "--read-rate wants a whole number of KiB per second, not '" + value +
                                  "'"};
        options.readBytesPerSecond = std::uint64_t{kibPerSecond} * 1024;
    } else if (option == "--write-demo-files") {
        if (value.empty())
            return Failure{0, "--write-demo-files wants a directory"};
        arguments.demoDirectory = value;
    } else if (option == "--fault") {
        const auto fault = tolvane::sim::parseFault(value);
        if (!fault)
            return Failure{0, "unknown fault '" + value + "'"};
        options.fault = *fault;
    }
    return {};
}

// Reads the command line into arguments; answers the exit status when the program is done
// already (help shown, or an option it cannot use).
std::optional<int> parseArguments(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = option.find('=');
            option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        if (option == "--help" && !hasValue) {
            printUsage(stdout);
            return 0;
        }
        if (option == "--version" && !hasValue) {
            std::printf("tolvane-sim %s\n", TOLVANE_VERSION);
            return 0;
        }
        if (!isKnownOption(option))
            return badOption("unknown option '" + std::string(argv[i]) + "'");
        if (!hasValue) {
            if (i + 1 >= argc)
                return badOption("option '" + option + "' needs a value");
            value = argv[++i];
        }
        if (const auto applied = applyOption(option, value, arguments); !applied)
            return badOption(applied.failure().text());
    }
    return std::nullopt;
}

int writeDemoFilesInto(const std::string& directory)
{
    if (const auto written = tolvane::sim::writeDemoFiles(directory); !written) {
        std::fprintf(stderr, "tolvane-sim: %s\n", written.failure().text().c_str());
        return 1;
    }
    std::fprintf(stdout, "demo files written to %s\n", directory.c_str());
    return 0;
}

// Serves until SIGINT or SIGTERM.
int runSimulator(const SimulatorOptions& options)
{
    // Every thread inherits this mask, so the signals wait for sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    tolvane::sim::Simulator simulator(options);
    std::mutex outputMutex;
    simulator.setLogSink([&outputMutex](const std::string& line) {
        std::lock_guard lock(outputMutex);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    });
    {
        // Held from before the first connection can be accepted, so a transfer that ends at
        // once still logs after the address: scripts read the first line for the port.
        std::lock_guard lock(outputMutex);
        if (const auto started = simulator.start(); !started) {
            std::fprintf(stderr, "tolvane-sim: %s\n", started.failure().text().c_str());
            return 1;
        }
        std::fprintf(stdout, "listening on %s\n", simulator.address().c_str());
        std::fflush(stdout);
    }

    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    simulator.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Demo files written at the file-size limit must fail with a message, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    Arguments arguments;
    if (const auto status = parseArguments(argc, argv, arguments))
        return *status;
    if (!arguments.demoDirectory.empty())
        return writeDemoFilesInto(arguments.demoDirectory);
    return runSimulator(arguments.options);
}
