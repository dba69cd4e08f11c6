#include "cli/targets.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tolvane::cli {

namespace {

std::string_view trim(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::vector<DownloadTarget>> readTargetsFile(const std::string& path,
                                                           std::string* error)
{
    std::ifstream file(path);
    if (!file) {
        if (error)
            *error = "cannot open targets file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<DownloadTarget> targets;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        std::string_view content = line;
        if (const auto hash = content.find('#'); hash != std::string_view::npos)
            content = content.substr(0, hash);
        content = trim(content);
        if (content.empty())
            continue;
        std::string why;
        const auto target = parseTarget(content, &why);
        if (!target) {
            if (error)
                *error = path + ":" + std::to_string(lineNumber) + ": " + why + ": " +
                         std::string(content);
            return std::nullopt;
        }
        targets.push_back(*target);
    }
    if (file.bad()) {
        if (error)
            *error = "cannot read targets file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return targets;
}

} // namespace tolvane::cli
