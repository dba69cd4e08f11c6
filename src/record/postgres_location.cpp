#include "record/postgres_location.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>

namespace tolvane::record {

namespace {

bool isUri(const std::string& location)
{
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

// A URI's text with %XX decoded, as libpq reads its parameter names.
std::string percentDecoded(const std::string& text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string uriWithoutPassword(std::string shown)
{
    // user:password@host: libpq ends the user part at the first '@' before any '/'. A password
    // with an '@' of its own is cut to the last '@' before the path or the query.
    const auto start = shown.find("://") + 3;
    const auto at = shown.find_first_of("@/", start);
    if (at != std::string::npos && shown[at] == '@') {
        const auto end = shown.rfind('@', shown.find_first_of("/?", at) - 1);
        const auto colon = shown.find(':', start);
        if (colon < at)
            shown.erase(colon, end - colon);
    }
    // password=... among the query's parameters, up to the next one.
    const auto query = shown.find('?', start);
    for (auto parameter = query; parameter != std::string::npos;
         parameter = shown.find('&', parameter + 1)) {
        const auto equals = shown.find('=', parameter + 1);
        const auto next = shown.find('&', parameter + 1);
        if (equals >= next ||
            percentDecoded(shown.substr(parameter + 1, equals - parameter - 1)) != "password")
            continue;
        shown.replace(equals + 1, (next == std::string::npos ? shown.size() : next) - equals - 1,
                      "***");
    }
    return shown;
}

// A keyword value as libpq reads it back: quoted when it holds a space, a quote or nothing.
std::string keywordValue(const std::string& value)
{
    if (!value.empty() && value.find_first_of(" \t\n\r\f\v'\\") == std::string::npos)
        return value;
    std::string quoted = "'";
    for (const char c : value) {
        if (c == '\'' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

} // namespace

std::string withoutPassword(const std::string& location)
{
    if (isUri(location))
        return uriWithoutPassword(location);
    PQconninfoOption* options = PQconninfoParse(location.c_str(), nullptr);
    if (!options) {
        // Not libpq's keywords: nothing from a "password" on can be told apart safely.
        std::string lower = location;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto password = lower.find("password");
        return password == std::string::npos ? location
                                             : location.substr(0, password) + "password=***";
    }
    bool hasPassword = false;
    std::string shown;
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        if (std::string(option->keyword) == "password") {
            hasPassword = true;
            continue;
        }
        shown += (shown.empty() ? "" : " ") + std::string(option->keyword) + "=" +
                 keywordValue(option->val);
    }
    PQconninfoFree(options);
    // Without a password the location is shown as written.
    return hasPassword ? shown : location;
}

bool isPostgresLocation(const std::string& location)
{
    if (isUri(location))
        return true;
    // libpq's keyword form, "host=... dbname=...": a file name does not start with one of these.
    for (const char* keyword : {"host=", "hostaddr=", "port=", "dbname=", "user=", "service="}) {
        if (location.rfind(keyword, 0) == 0)
            return true;
    }
    return false;
}

} // namespace tolvane::record
