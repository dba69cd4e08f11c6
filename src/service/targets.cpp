#include "service/targets.h"

#include "service/file_bytes.h"
#include "service/terminal_text.h"

#include <algorithm>

namespace tolvane::service {

namespace {

constexpr std::string_view Role = "targets file ";
// A list of recorders is a few kilobytes; anything far larger is the wrong file.
constexpr std::uint64_t LargestFile = 1024 * 1024;
constexpr std::size_t LongestLine = 1000;
// What is echoed of a bad line, so a file with no newline does not fill the terminal.
constexpr std::size_t EchoedLength = 200;
// U+FEFF, the byte order mark some editors put first: invisible, yet it spoils the address.
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The line as printable text (control bytes, bad UTF-8 and a byte order mark as \xNN), cut to
// at most EchoedLength bytes, never inside a character or its escape.
std::string echoed(std::string_view line)
{
    std::string text;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t length = std::max<std::size_t>(utf8SequenceLength(line, i), 1);
        const std::string_view character = line.substr(i, length);
        const std::string shown =
            character == ByteOrderMark ? "\\xEF\\xBB\\xBF" : printableText(character);
        if (text.size() + shown.size() > EchoedLength)
            return text + "...";
        text += shown;
        i += length;
    }
    return text;
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
    const auto target = parseTarget(line);
    if (!target) {
        if (error)
            *error = path + ":" + std::to_string(lineNumber) + ": " + target.failure().text() +
                     ": " + echoed(line);
        return false;
    }
    targets.push_back(*target);
    return true;
}

std::string tooLarge(const std::string& name)
{
    return std::string(Role) + name + " is larger than 1 MiB";
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

std::optional<std::vector<DownloadTarget>>
readTargetsFile(const std::string& path, std::string* error, std::vector<int>* lineNumbers)
{
    RegularFile file;
    if (!openOperatorFile(file, path, error, Role))
        return std::nullopt;
    if (file.size() > LargestFile) {
        if (error)
            *error = tooLarge(path);
        return std::nullopt;
    }
    std::string text;
    const bool read = forEachBlock(
        file,
        [&](const std::uint8_t* block, std::size_t size) {
            // A file that grows while it is read is held to the same limit.
            if (text.size() + size > LargestFile) {
                if (error)
                    *error = tooLarge(path);
                return false;
            }
            text.append(reinterpret_cast<const char*>(block), size);
            return true;
        },
        error, Role);
    if (!read)
        return std::nullopt;
    return readTargetsText(text, path, error, lineNumbers);
}

std::optional<std::vector<DownloadTarget>> readTargetsText(std::string_view text,
                                                           const std::string& name,
                                                           std::string* error,
                                                           std::vector<int>* lineNumbers)
{
    if (text.size() > LargestFile) {
        if (error)
            *error = tooLarge(name);
        return std::nullopt;
    }
    std::vector<DownloadTarget> targets;
    int lineNumber = 0;
    while (!text.empty()) {
        // The last line may lack its newline.
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        ++lineNumber;
        if (line.size() > LongestLine) {
            refuseLongLine(name, lineNumber, line, error);
            return std::nullopt;
        }
        const std::size_t before = targets.size();
        if (!readLine(line, lineNumber, name, targets, error))
            return std::nullopt;
        if (lineNumbers && targets.size() > before)
            lineNumbers->push_back(lineNumber);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
    return targets;
}

} // namespace tolvane::service
