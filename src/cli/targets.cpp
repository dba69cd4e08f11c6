#include "cli/targets.h"

#include "cli/file_bytes.h"

#include <array>

namespace tolvane::cli {

namespace {

constexpr std::string_view Role = "targets file ";
// A list of recorders is a few kilobytes; anything far larger is the wrong file.
constexpr std::uint64_t LargestFile = 1024 * 1024;
constexpr std::size_t LongestLine = 1000;
// What is echoed of a bad line, so a file with no newline does not fill the terminal.
constexpr std::size_t EchoedLength = 200;

std::string echoed(std::string_view line)
{
    if (line.size() <= EchoedLength)
        return std::string(line);
    return std::string(line.substr(0, EchoedLength)) + "...";
}

std::string_view trim(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Adds the address on one line, if it holds one; false with *error for a bad address.
bool readLine(std::string_view line, int lineNumber, const std::string& path,
              std::vector<DownloadTarget>& targets, std::string* error)
{
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    line = trim(line);
    if (line.empty())
        return true;
    std::string why;
    const auto target = parseTarget(line, &why);
    if (!target) {
        if (error)
            *error = path + ":" + std::to_string(lineNumber) + ": " + why + ": " + echoed(line);
        return false;
    }
    targets.push_back(*target);
    return true;
}

bool refuseLongLine(const std::string& path, int lineNumber, std::string_view line,
                    std::string* error)
{
    if (error)
        *error = path + ":" + std::to_string(lineNumber) + ": a line longer than " +
                 std::to_string(LongestLine) + " bytes: " + echoed(line);
    return false;
}

} // namespace

std::optional<std::vector<DownloadTarget>> readTargetsFile(const std::string& path,
                                                           std::string* error)
{
    RegularFile file;
    if (!openOperatorFile(file, path, error, Role))
        return std::nullopt;
    if (file.size() > LargestFile) {
        if (error)
            *error = std::string(Role) + path + " is larger than 1 MiB";
        return std::nullopt;
    }
    std::vector<DownloadTarget> targets;
    std::string line;
    int lineNumber = 0;
    std::uint64_t total = 0;
    const bool read = forEachBlock(
        file,
        [&](const std::uint8_t* block, std::size_t size) {
            // A file that grows while it is read is held to the same limit.
            total += size;
            if (total > LargestFile) {
                if (error)
                    *error = std::string(Role) + path + " is larger than 1 MiB";
                return false;
            }
            for (std::size_t i = 0; i < size; ++i) {
                if (block[i] != '\n') {
                    line.push_back(static_cast<char>(block[i]));
                    if (line.size() > LongestLine)
                        return refuseLongLine(path, lineNumber + 1, line, error);
                } else if (!readLine(line, ++lineNumber, path, targets, error)) {
                    return false;
                } else {
                    line.clear();
                }
            }
            return true;
        },
        error, Role);
    if (!read)
        return std::nullopt;
    // The last line may lack its newline.
    if (!line.empty() && !readLine(line, ++lineNumber, path, targets, error))
        return std::nullopt;
    return targets;
}

} // namespace tolvane::cli
