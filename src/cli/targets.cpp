#include "cli/targets.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tolvane::cli {

namespace {

// A decimal number of 1 to `maxDigits` digits, nothing else.
std::optional<unsigned long> parseDecimal(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
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

} // namespace

std::optional<DownloadTarget> parseTarget(std::string_view text, std::string* why)
{
    const auto fail = [&](const char* reason) -> std::optional<DownloadTarget> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    constexpr const char* NotAnAddress = "not an IPv4 address with an optional port";
    DownloadTarget target;
    target.port = DefaultPort;
    std::string_view host = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        const auto port = parseDecimal(text.substr(colon + 1), 5);
        if (!port || *port == 0 || *port > 65535)
            return fail(NotAnAddress);
        target.port = static_cast<std::uint16_t>(*port);
    }
    unsigned long octets[4] = {};
    int parts = 0;
    std::string_view rest = host;
    for (;;) {
        const auto dot = rest.find('.');
        const std::string_view digits = rest.substr(0, dot);
        const auto octet = parseDecimal(digits, 3);
        if (!octet || *octet > 255 || parts == 4)
            return fail(NotAnAddress);
        // Some resolvers read "010" as octal 8: refuse rather than guess which unit is meant.
        if (digits.size() > 1 && digits[0] == '0')
            return fail("an address with a leading zero in a number");
        octets[parts++] = *octet;
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    if (parts != 4)
        return fail(NotAnAddress);
    if (octets[0] == 0 && octets[1] == 0 && octets[2] == 0 && octets[3] == 0)
        return fail("not a recorder address (0.0.0.0 means this machine)");
    if (octets[0] >= 224)
        return fail("not a recorder address (multicast, reserved or broadcast)");
    target.address = std::string(host);
    return target;
}

std::string targetText(const DownloadTarget& target)
{
    return target.address + ":" + std::to_string(target.port);
}

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
