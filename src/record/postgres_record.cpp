#include "record/postgres_record.h"

#include "record/record_schema.h"
#include "record/row_import.h"

#include <libpq-fe.h>

#include <mutex>
#include <vector>

namespace tolvane::record {

namespace {

// The SQLSTATE of a unique index refusing a row.
constexpr const char* UniqueViolation = "23505";

// One query result, cleared on every way out.
class Result {
public:
    explicit Result(PGresult* result) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool ok() const
    {
        const auto status = PQresultStatus(m_result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    std::string state() const
    {
        const char* state = PQresultErrorField(m_result, PG_DIAG_SQLSTATE);
        return state ? state : "";
    }
    int rows() const { return PQntuples(m_result); }
    std::optional<std::string> text(int row, int column) const
    {
        if (PQgetisnull(m_result, row, column))
            return std::nullopt;
        return std::string(PQgetvalue(m_result, row, column),
                           static_cast<std::size_t>(PQgetlength(m_result, row, column)));
    }

private:
    PGresult* m_result;
};

// A query's parameters as libpq takes them: text, or null.
class Parameters {
public:
    Parameters& add(const std::optional<std::string>& value)
    {
        m_values.push_back(value);
        return *this;
    }
    int count() const { return static_cast<int>(m_values.size()); }
    std::vector<const char*> pointers() const
    {
        std::vector<const char*> pointers;
        for (const auto& value : m_values)
            pointers.push_back(value ? value->c_str() : nullptr);
        return pointers;
    }

private:
    std::vector<std::optional<std::string>> m_values;
};

Parameters rowParameters(const RecordEntry& entry, bool macInUse)
{
    Parameters parameters;
    parameters.add(isoUtcTime(entry.time))
        .add(entry.target)
        .add(entry.type)
        .add(entry.file)
        .add(entry.sha256)
        .add(entry.version)
        .add(entry.mac)
        .add(entry.serial ? std::optional(std::to_string(*entry.serial)) : std::nullopt)
        .add(entry.unit)
        .add(entry.result)
        .add(entry.message)
        .add(std::to_string(entry.durationSeconds))
        .add(std::string(macInUse ? "1" : "0"));
    return parameters;
}

RecordEntry readRow(const Result& result, int row)
{
    RecordEntry entry;
    entry.time = parseIsoUtcTime(result.text(row, 0).value_or(""))
                     .value_or(std::chrono::system_clock::time_point{});
    entry.target = result.text(row, 1).value_or("");
    entry.type = result.text(row, 2).value_or("");
    entry.file = result.text(row, 3);
    entry.sha256 = result.text(row, 4);
    entry.version = result.text(row, 5);
    entry.mac = result.text(row, 6);
    if (const auto serial = result.text(row, 7))
        entry.serial = static_cast<std::uint32_t>(std::stoul(*serial));
    entry.unit = result.text(row, 8).value_or("");
    entry.result = result.text(row, 9).value_or("");
    entry.message = result.text(row, 10).value_or("");
    entry.durationSeconds = std::stod(result.text(row, 11).value_or("0"));
    return entry;
}

const std::string SelectHolder =
    std::string("SELECT ") + RowColumns + " FROM units WHERE mac = $1 AND mac_in_use = 1";
const std::string InsertRow = std::string("INSERT INTO units (") + RowColumns +
                              ", mac_in_use) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, "
                              "$11, $12, $13)";
constexpr const char* ReleasePending =
    "UPDATE units SET mac_in_use = 0 WHERE unit = $1 AND result = 'pending'";
constexpr const char* Rehold = R"(
    UPDATE units SET mac_in_use = 1 WHERE id = (
        SELECT id FROM units AS row WHERE row.mac = $1 AND (row.result = 'ok' OR
            (row.result = 'pending' AND NOT EXISTS (SELECT 1 FROM units AS later
                WHERE later.unit = row.unit AND later.result != 'pending')))
        ORDER BY id LIMIT 1)
    AND NOT EXISTS (SELECT 1 FROM units WHERE mac = $1 AND mac_in_use = 1))";

// The location as messages show it: without a password, should one be written in it.
std::string withoutPassword(const std::string& location)
{
    std::string shown = location;
    if (const auto scheme = shown.find("://"); scheme != std::string::npos) {
        // user:password@host: the password runs to the last '@' before the path or the query.
        const auto authorityEnd = shown.find_first_of("/?", scheme + 3);
        const auto at = shown.rfind('@', authorityEnd == std::string::npos ? std::string::npos
                                                                           : authorityEnd - 1);
        const auto colon = shown.find(':', scheme + 3);
        if (at != std::string::npos && at > scheme && colon != std::string::npos && colon < at)
            shown.erase(colon, at - colon);
    }
    // password=... as a query parameter or a keyword, up to the next separator.
    for (auto found = shown.find("password="); found != std::string::npos;
         found = shown.find("password=", found + 1)) {
        const bool keyword =
            found == 0 || std::string("?& \t").find(shown[found - 1]) != std::string::npos;
        if (!keyword)
            continue;
        const auto valueStart = found + 9;
        const auto valueEnd = shown.find_first_of("& \t", valueStart);
        shown.replace(valueStart,
                      (valueEnd == std::string::npos ? shown.size() : valueEnd) - valueStart,
                      "***");
    }
    return shown;
}

// libpq's message on one line, as the command line and the message boxes show messages.
std::string oneLine(std::string text)
{
    std::string line;
    bool space = false;
    for (const char c : text) {
        if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
            space = !line.empty();
            continue;
        }
        if (space)
            line += ' ';
        space = false;
        line += c;
    }
    return line;
}

class PostgresRecord : public ProductionRecord {
public:
    PostgresRecord(std::string location, PGconn* connection)
        : m_location(std::move(location)), m_connection(connection)
    {
    }
    ~PostgresRecord() override { PQfinish(m_connection); }

    const std::string& location() const override { return m_location; }

    bool prepare(const RecordOptions& options, std::string* error);

    Reservation reserveMac(const RecordEntry& pending, bool allowReused) override;
    bool writeOutcome(const RecordEntry& outcome, std::string* error) override;
    std::optional<std::vector<RecordEntry>> rows(const RecordFilter& filter,
                                                 std::string* error) override;
    std::optional<ImportReport> importRows(const std::vector<RecordEntry>& rows,
                                           std::string* error) override;

private:
    Result run(const std::string& sql, const Parameters& parameters = {})
    {
        // Only the simple protocol runs several statements at once, as the schema does.
        if (parameters.count() == 0)
            return Result(PQexec(m_connection, sql.c_str()));
        const auto values = parameters.pointers();
        return Result(PQexecParams(m_connection, sql.c_str(), parameters.count(), nullptr,
                                   values.data(), nullptr, nullptr, 0));
    }
    bool execute(const std::string& sql, std::string* error, const Parameters& parameters = {})
    {
        const Result result = run(sql, parameters);
        if (result.ok())
            return true;
        if (error)
            *error = describeError();
        return false;
    }
    template <typename T> T abandon(const T& result, std::string* error)
    {
        if (error && error->empty())
            *error = describeError();
        run("ROLLBACK");
        return result;
    }
    std::string describeError() const
    {
        return "record " + m_location + ": " + oneLine(PQerrorMessage(m_connection));
    }

    // The row that holds mac; `failed` when the query did not run.
    std::optional<RecordEntry> holder(const std::string& mac, bool& failed);
    bool insert(const RecordEntry& entry, bool macInUse, std::string* state = nullptr);

    std::string m_location;
    PGconn* m_connection;
    std::mutex m_mutex;
};

bool PostgresRecord::prepare(const RecordOptions& options, std::string* error)
{
    const std::string lockTimeout =
        "SET lock_timeout = " + std::to_string(options.busyTimeout.count());
    if (!execute(lockTimeout, error) || !execute("BEGIN", error))
        return false;
    // One program at a time looks at and creates the table.
    if (!execute("SELECT pg_advisory_xact_lock(7463656)", error))
        return abandon(false, error);
    const Result found = run("SELECT to_regclass('tolvane_record') IS NOT NULL, "
                             "to_regclass('units') IS NOT NULL");
    if (!found.ok() || found.rows() != 1)
        return abandon(false, error);
    const bool marked = found.text(0, 0) == "t";
    const bool hasUnits = found.text(0, 1) == "t";
    if (!marked && (hasUnits || options.readOnly)) {
        if (error)
            *error = m_location + (hasUnits ? " is not a Tolvane production record"
                                            : " holds no Tolvane production record");
        return abandon(false, error);
    }
    if (!marked) {
        if (!execute(PostgresSchema, error) ||
            !execute("INSERT INTO tolvane_record VALUES (" + std::to_string(SchemaVersion) + ")",
                     error))
            return abandon(false, error);
    } else {
        const Result version = run("SELECT max(schema_version) FROM tolvane_record");
        if (!version.ok())
            return abandon(false, error);
        const int schema = std::stoi(version.text(0, 0).value_or("0"));
        if (schema > SchemaVersion) {
            if (error)
                *error = m_location + " holds a production record of schema version " +
                         std::to_string(schema) +
                         ", written by a newer Tolvane; this one reads up to " +
                         std::to_string(SchemaVersion);
            return abandon(false, error);
        }
    }
    if (options.readOnly)
        return execute("ROLLBACK", error);
    return execute("COMMIT", error);
}

std::optional<RecordEntry> PostgresRecord::holder(const std::string& mac, bool& failed)
{
    const Result result = run(SelectHolder, Parameters().add(mac));
    failed = !result.ok();
    if (failed || result.rows() == 0)
        return std::nullopt;
    return readRow(result, 0);
}

bool PostgresRecord::insert(const RecordEntry& entry, bool macInUse, std::string* state)
{
    const Result result = run(InsertRow, rowParameters(entry, macInUse));
    if (state)
        *state = result.state();
    return result.ok();
}

Reservation PostgresRecord::reserveMac(const RecordEntry& pending, bool allowReused)
{
    std::lock_guard lock(m_mutex);
    Reservation result;
    if (!execute("BEGIN", &result.error))
        return result;
    bool failed = false;
    const auto held = pending.mac ? holder(*pending.mac, failed) : std::nullopt;
    if (failed)
        return abandon(result, &result.error);
    if (held && !allowReused) {
        run("ROLLBACK");
        return {Reservation::Status::Used, held, {}};
    }
    std::string state;
    if (insert(pending, pending.mac && !held, &state) && execute("COMMIT", &result.error)) {
        result.status = Reservation::Status::Reserved;
        return result;
    }
    // Another bench took the MAC between the check and the insert: the index refused ours.
    if (state == UniqueViolation && pending.mac) {
        run("ROLLBACK");
        const auto winner = holder(*pending.mac, failed);
        if (winner)
            return {Reservation::Status::Used, winner, {}};
    }
    return abandon(result, &result.error);
}

bool PostgresRecord::writeOutcome(const RecordEntry& outcome, std::string* error)
{
    std::lock_guard lock(m_mutex);
    if (!execute("BEGIN", error))
        return false;
    if (!execute(ReleasePending, error, Parameters().add(outcome.unit)))
        return abandon(false, error);
    bool failed = false;
    const bool holds =
        outcome.result == ResultOk && outcome.mac && !holder(*outcome.mac, failed) && !failed;
    if (failed || !insert(outcome, holds) ||
        (outcome.mac && !holds && !execute(Rehold, error, Parameters().add(outcome.mac))) ||
        !execute("COMMIT", error))
        return abandon(false, error);
    return true;
}

std::optional<std::vector<RecordEntry>> PostgresRecord::rows(const RecordFilter& filter,
                                                             std::string* error)
{
    std::lock_guard lock(m_mutex);
    const Result result =
        run(std::string("SELECT ") + RowColumns +
                " FROM units WHERE ($1::text IS NULL OR mac = $1) AND ($2::text IS NULL OR "
                "time >= $2) ORDER BY id",
            Parameters()
                .add(filter.mac)
                .add(filter.since ? std::optional(isoUtcTime(*filter.since)) : std::nullopt));
    if (!result.ok()) {
        if (error)
            *error = describeError();
        return std::nullopt;
    }
    std::vector<RecordEntry> entries;
    for (int row = 0; row < result.rows(); ++row)
        entries.push_back(readRow(result, row));
    return entries;
}

std::optional<ImportReport> PostgresRecord::importRows(const std::vector<RecordEntry>& rows,
                                                       std::string* error)
{
    std::lock_guard lock(m_mutex);
    if (!execute("BEGIN", error))
        return std::nullopt;
    const auto report = importRowsWith(
        rows,
        {[&](const std::string& unit) {
             return execute(ReleasePending, error, Parameters().add(unit));
         },
         [this](const std::string& mac, bool& failed) { return holder(mac, failed); },
         [this](const RecordEntry& row, bool holds) { return insert(row, holds); },
         [&](const std::string& mac) { return execute(Rehold, error, Parameters().add(mac)); }});
    if (!report)
        return abandon(std::optional<ImportReport>(), error);
    if (!execute("COMMIT", error))
        return abandon(std::optional<ImportReport>(), error);
    return report;
}

} // namespace

bool isPostgresLocation(const std::string& location)
{
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0)
        return true;
    // libpq's keyword form, "host=... dbname=...": a file name does not start with one of these.
    for (const char* keyword : {"host=", "hostaddr=", "port=", "dbname=", "user=", "service="}) {
        if (location.rfind(keyword, 0) == 0)
            return true;
    }
    return false;
}

std::unique_ptr<ProductionRecord>
openPostgresRecord(const std::string& location, std::string* error, const RecordOptions& options)
{
    // Our limits come first, so the location's own settings win over them.
    const char* keywords[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname",
                              nullptr};
    const char* values[] = {"10", "10000", "tolvane", location.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    const std::string shown = withoutPassword(location);
    if (!connection || PQstatus(connection) != CONNECTION_OK) {
        if (error) {
            const std::string why =
                connection ? oneLine(PQerrorMessage(connection)) : "out of memory";
            *error = "cannot connect to record " + shown + ": " + why;
        }
        PQfinish(connection);
        return nullptr;
    }
    auto record = std::make_unique<PostgresRecord>(shown, connection);
    if (!record->prepare(options, error))
        return nullptr;
    return record;
}

} // namespace tolvane::record
