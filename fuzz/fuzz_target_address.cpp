// The command line's recorder address fed any text. A target is worked out here on its own: a
// host of four decimal numbers 0-255 without leading zeros, not 0.0.0.0 and below 224, then
// optionally ':' and a port of one to five digits without a leading zero, 1-65535. The strict
// form is the only text of its address; a lenient address read again strictly is itself; a
// target's text parses back to it. parseUnsignedDecimal is checked the same way.
#include "core/download/target_address.h"
#include "fuzz_check.h"

#include <optional>
#include <string>
#include <string_view>

namespace {

std::optional<std::string> valueOf(const tolvane::Result<std::string>& address)
{
    return address ? std::optional<std::string>(*address) : std::nullopt;
}

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The numbers of a strict dotted quad, or nothing.
std::optional<std::string> strictAddress(std::string_view text)
{
    int parts = 0;
    int first = 0;
    std::string_view rest = text;
    for (;;) {
        const auto dot = rest.find('.');
        const std::string_view number = rest.substr(0, dot);
        if (!allDigits(number) || number.size() > 3 || (number.size() > 1 && number[0] == '0'))
            return std::nullopt;
        const int value = std::stoi(std::string(number));
        if (value > 255 || ++parts > 4)
            return std::nullopt;
        if (parts == 1)
            first = value;
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    if (parts != 4 || text == "0.0.0.0" || first >= 224)
        return std::nullopt;
    return std::string(text);
}

std::optional<tolvane::DownloadTarget> expectedTarget(std::string_view text)
{
    tolvane::DownloadTarget target;
    std::string_view host = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        const std::string_view port = text.substr(colon + 1);
        if (!allDigits(port) || port.size() > 5 || (port.size() > 1 && port[0] == '0'))
            return std::nullopt;
        const int value = std::stoi(std::string(port));
        if (value < 1 || value > 65535)
            return std::nullopt;
        target.port = static_cast<std::uint16_t>(value);
    }
    const auto address = strictAddress(host);
    if (!address)
        return std::nullopt;
    target.address = *address;
    return target;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto target = parseTarget(text);
    const auto expected = expectedTarget(text);
    FUZZ_CHECK(target.ok() == expected.has_value());
    FUZZ_CHECK(target || !target.failure().text().empty());
    if (target) {
        FUZZ_CHECK(target->address == expected->address && target->port == expected->port);
        const auto again = parseTarget(targetText(*target));
        FUZZ_CHECK(again && again->address == target->address && again->port == target->port);
    }

    const auto strict = valueOf(parseIpv4Address(text, AddressForm::Strict));
    const auto lenient = valueOf(parseIpv4Address(text, AddressForm::Lenient));
    if (strict)
        FUZZ_CHECK(*strict == text && lenient == strict);
    if (lenient)
        FUZZ_CHECK(valueOf(parseIpv4Address(*lenient, AddressForm::Strict)) == lenient);
    if (const auto recorder = valueOf(parseRecorderAddress(text, AddressForm::Strict)))
        FUZZ_CHECK(recorder == strict && strictAddress(text) == recorder);

    const std::string_view digits = trimmed(text);
    for (const std::uint32_t most : {65535u, 4294967295u}) {
        const auto value = parseUnsignedDecimal(text, most);
        const bool fits =
            allDigits(digits) && digits.size() <= 10 && std::stoull(std::string(digits)) <= most;
        FUZZ_CHECK(value.has_value() == fits);
        if (value)
            FUZZ_CHECK(*value == std::stoull(std::string(digits)));
    }
    return 0;
}
