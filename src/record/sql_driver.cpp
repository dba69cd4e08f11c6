#include "record/sql_driver.h"

#include <cctype>
#include <cstdio>

namespace tolvane::record {

std::optional<std::string> sqlText(const SqlValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&value)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", *real);
        return text;
    }
    return std::nullopt;
}

std::optional<std::int64_t> sqlInteger(const SqlValue& value)
{
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return *integer;
    if (const auto* text = std::get_if<std::string>(&value))
        return std::stoll(*text);
    if (const auto* real = std::get_if<double>(&value))
        return static_cast<std::int64_t>(*real);
    return std::nullopt;
}

double sqlReal(const SqlValue& value)
{
    if (const auto* real = std::get_if<double>(&value))
        return *real;
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return static_cast<double>(*integer);
    if (const auto* text = std::get_if<std::string>(&value))
        return std::stod(*text);
    return 0;
}

std::string withParameterMarks(std::string statement, const SqlDialect& dialect)
{
    for (std::size_t i = 0; i + 1 < statement.size(); ++i) {
        if (statement[i] == '$' && std::isdigit(static_cast<unsigned char>(statement[i + 1])))
            statement[i] = dialect.parameterMark;
    }
    return statement;
}

} // namespace tolvane::record
