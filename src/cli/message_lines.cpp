#include "cli/message_lines.h"

namespace tolvane::cli {

std::string messageLines(std::string_view text)
{
    std::string lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines += MessagePrefix;
        lines += text.substr(0, end);
        lines += '\n';
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

} // namespace tolvane::cli
