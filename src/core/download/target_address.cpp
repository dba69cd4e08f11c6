#include "core/download/target_address.h"

#include "core/base/decimal_text.h"

#include <cerrno>

namespace tolvane {

namespace {

constexpr const char* NotAnAddress = "not an IPv4 address with an optional port";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

Failure refuse(const char* reason)
{
    return {0, reason};
}

} // namespace

Result<std::string> parseIpv4Address(std::string_view text, AddressForm form)
{
    if (form == AddressForm::Lenient)
        text = trimmed(text);
    std::string plain;
    int parts = 0;
    for (;;) {
        const auto dot = text.find('.');
        const std::string_view digits = text.substr(0, dot);
        const auto octet = parseDecimal(digits, 255, 3);
        if (!octet || parts == 4)
            return refuse(NotAnAddress);
        // Some resolvers read "010" as octal 8: refuse rather than guess which unit is meant.
        if (form == AddressForm::Strict && digits.size() > 1 && digits[0] == '0')
            return refuse("an address with a leading zero in a number");
        plain += (parts++ > 0 ? "." : "") + std::to_string(*octet);
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    if (parts != 4)
        return refuse(NotAnAddress);
    return plain;
}

Result<std::string> parseRecorderAddress(std::string_view text, AddressForm form)
{
    auto address = parseIpv4Address(text, form);
    if (!address)
        return address;
    if (*address == "0.0.0.0")
        return refuse("not a recorder address (0.0.0.0 means this machine)");
    const auto first = parseDecimal(address->substr(0, address->find('.')), 255);
    if (first && *first >= 224)
        return refuse("not a recorder address (multicast, reserved or broadcast)");
    return address;
}

Result<DownloadTarget> parseTarget(std::string_view text)
{
    DownloadTarget target;
    target.port = DefaultPort;
    std::string_view host = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        const std::string_view digits = text.substr(colon + 1);
        // Any count of digits is a number; only what is not one gets the general message.
        const auto port = parseDecimal(digits, 65535);
        if (!port && port.failure().error != ERANGE)
            return refuse(NotAnAddress);
        // Refused as the address's numbers are: equal targets must have equal text.
        if (digits.size() > 1 && digits[0] == '0')
            return refuse("a port with a leading zero");
        if (!port || *port == 0)
            return refuse("the port must be 1 to 65535");
        target.port = static_cast<std::uint16_t>(*port);
    }
    auto address = parseRecorderAddress(host, AddressForm::Strict);
    if (!address)
        return address.failure();
    target.address = std::move(address).value();
    return target;
}

std::string targetText(const DownloadTarget& target)
{
    return target.address + ":" + std::to_string(target.port);
}

std::optional<std::uint32_t> parseUnsignedDecimal(std::string_view text, std::uint32_t maxValue)
{
    const auto value = parseDecimal(trimmed(text), maxValue, 10);
    if (!value)
        return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

} // namespace tolvane
