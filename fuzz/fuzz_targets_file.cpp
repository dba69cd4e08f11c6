// The command line's targets file fed any text. Worked out here line by line: a line over 1000
// bytes fails; the text from '#' on and blanks around go; an empty line is skipped; any other
// must be a target. The first bad line is named by its number, and what a failure echoes is cut
// short.
#include "fuzz_check.h"
#include "service/targets.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

struct Expected {
    std::vector<std::string> targets; // "HOST:PORT"
    int badLine = 0;                  // 0 when every line is good
};

Expected expectedTargets(std::string_view text)
{
    Expected expected;
    int number = 0;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        ++number;
        if (line.size() > 1000) {
            expected.badLine = number;
            return expected;
        }
        line = line.substr(0, line.find('#'));
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos)
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        const auto target = tolvane::parseTarget(line);
        if (!target) {
            expected.badLine = number;
            return expected;
        }
        expected.targets.push_back(tolvane::targetText(*target));
    }
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string error;
    const auto targets = service::readTargetsText(text, "fuzz", &error);
    if (size > 1024 * 1024) {
        FUZZ_CHECK(!targets && error == "targets file fuzz is larger than 1 MiB");
        return 0;
    }
    const Expected expected = expectedTargets(text);
    FUZZ_CHECK(targets.has_value() == (expected.badLine == 0));
    if (targets) {
        FUZZ_CHECK(targets->size() == expected.targets.size());
        for (std::size_t i = 0; i < targets->size(); ++i)
            FUZZ_CHECK(targetText((*targets)[i]) == expected.targets[i]);
        return 0;
    }
    const std::string named = "fuzz:" + std::to_string(expected.badLine) + ": ";
    FUZZ_CHECK(error.compare(0, named.size(), named) == 0);
    // The name, the reason and at most 200 echoed characters with "...".
    FUZZ_CHECK(error.size() <= named.size() + 100 + 203);
    return 0;
}
