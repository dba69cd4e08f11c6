#include "cli/json.h"

#include "cli/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace tolvane::cli {

namespace {

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::optional<std::map<std::string, std::string>> object()
    {
        std::map<std::string, std::string> members;
        skipBlanks();
        if (!take('{'))
            return std::nullopt;
        skipBlanks();
        if (!take('}')) {
            for (;;) {
                skipBlanks();
                auto name = string();
                skipBlanks();
                if (!name || !take(':'))
                    return std::nullopt;
                skipBlanks();
                if (peek() == '"') {
                    auto value = string();
                    if (!value)
                        return std::nullopt;
                    members[*name] = *value;
                } else if (!skipValue()) {
                    return std::nullopt;
                }
                skipBlanks();
                if (take('}'))
                    break;
                if (!take(','))
                    return std::nullopt;
            }
        }
        skipBlanks();
        if (m_pos != m_text.size())
            return std::nullopt;
        return members;
    }

private:
    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
    bool take(char c)
    {
        if (peek() != c || m_pos >= m_text.size())
            return false;
        ++m_pos;
        return true;
    }
    void skipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\n'))
            ++m_pos;
    }

    std::optional<std::uint32_t> hex4()
    {
        if (m_pos + 4 > m_text.size())
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_pos++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return value;
    }

    std::optional<std::string> string()
    {
        if (!take('"'))
            return std::nullopt;
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_pos >= m_text.size())
                return std::nullopt;
            const char escape = m_text[m_pos++];
            switch (escape) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                auto code = hex4();
                if (!code)
                    return std::nullopt;
                if (*code >= 0xD800 && *code <= 0xDBFF && m_text.substr(m_pos, 2) == "\\u") {
                    const std::size_t save = m_pos;
                    m_pos += 2;
                    const auto low = hex4();
                    if (low && *low >= 0xDC00 && *low <= 0xDFFF)
                        code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
                    else
                        m_pos = save;
                }
                appendUtf8(out, *code);
                break;
            }
            default: return std::nullopt;
            }
        }
        return std::nullopt;
    }

    bool skipValue(int depth = 0)
    {
        if (depth > 64)
            return false;
        const char c = peek();
        if (c == '"')
            return string().has_value();
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_pos;
            skipBlanks();
            if (take(close))
                return true;
            for (;;) {
                skipBlanks();
                if (c == '{') {
                    if (!string())
                        return false;
                    skipBlanks();
                    if (!take(':'))
                        return false;
                    skipBlanks();
                }
                if (!skipValue(depth + 1))
                    return false;
                skipBlanks();
                if (take(close))
                    return true;
                if (!take(','))
                    return false;
            }
        }
        // numbers, true, false, null
        const std::size_t start = m_pos;
        while (m_pos < m_text.size()) {
            const char k = m_text[m_pos];
            const bool part = (k >= '0' && k <= '9') || (k >= 'a' && k <= 'z') || k == '-' ||
                              k == '+' || k == '.' || k == 'E';
            if (!part)
                break;
            ++m_pos;
        }
        const std::string_view word = m_text.substr(start, m_pos - start);
        if (word.empty())
            return false;
        if (word == "true" || word == "false" || word == "null")
            return true;
        return word.find_first_not_of("0123456789-+.eE") == std::string_view::npos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

} // namespace

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escaped[8];
        switch (c) {
        case '"':
            out += "\\\"";
            ++i;
            continue;
        case '\\':
            out += "\\\\";
            ++i;
            continue;
        case '\b':
            out += "\\b";
            ++i;
            continue;
        case '\f':
            out += "\\f";
            ++i;
            continue;
        case '\n':
            out += "\\n";
            ++i;
            continue;
        case '\r':
            out += "\\r";
            ++i;
            continue;
        case '\t':
            out += "\\t";
            ++i;
            continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    out += "\"";
    return out;
}

std::optional<std::map<std::string, std::string>> parseJsonObjectStrings(std::string_view text)
{
    return Parser(text).object();
}

} // namespace tolvane::cli
