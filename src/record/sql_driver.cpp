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

namespace {

// A row query kept, seen through the row interface.
class KeptRow : public SqlRowView {
public:
    explicit KeptRow(const SqlRow& row) : m_row(row) {}
    bool isNull(int column) const override
    {
        return std::holds_alternative<std::monostate>(m_row[column]);
    }
    std::string_view text(int column) const override
    {
        const auto* kept = std::get_if<std::string>(&m_row[column]);
        return kept ? std::string_view(*kept) : std::string_view();
    }
    std::int64_t integer(int column) const override
    {
        return sqlInteger(m_row[column]).value_or(0);
    }
    double real(int column) const override { return sqlReal(m_row[column]); }

private:
    const SqlRow& m_row;
};

} // namespace

Result<void> SqlConnection::forEachRow(const std::string& statement,
                                       const std::vector<SqlValue>& parameters,
                                       const std::function<void(const SqlRowView&)>& visit)
{
    const auto rows = query(statement, parameters);
    if (!rows)
        return rows.failure();
    for (const auto& row : *rows)
        visit(KeptRow(row));
    return {};
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
