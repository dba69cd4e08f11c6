#include "record/postgres_record.h"

#include "record/record_schema.h"
#include "record/row_import.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvane::record {

namespace {

// The SQLSTATE of a unique index refusing a row.
constexpr const char* UniqueViolation = "23505";

// How long a cancel request for a query the server never answered may take.
constexpr std::chrono::seconds CancelLimit{2};

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

// The location as messages show it: without a password, should one be written in it.
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

// "10", "10.5": a limit as messages show it, in seconds.
std::string secondsText(std::chrono::milliseconds limit)
{
    std::string text = std::to_string(limit.count() / 1000);
    if (const auto rest = limit.count() % 1000) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text;
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
    // Sends the query and waits for its last result until the deadline: a server that stops
    // answering leaves the connection open, so neither libpq's timeouts nor the kernel's fire.
    Result run(const std::string& sql, const Parameters& parameters = {})
    {
        if (!m_silent.empty())
            return Result(nullptr);
        const auto values = parameters.pointers();
        // Only the simple protocol runs several statements at once, as the schema does.
        const int sent = parameters.count() == 0
                             ? PQsendQuery(m_connection, sql.c_str())
                             : PQsendQueryParams(m_connection, sql.c_str(), parameters.count(),
                                                 nullptr, values.data(), nullptr, nullptr, 0);
        if (!sent)
            return Result(nullptr);
        const auto deadline = std::chrono::steady_clock::now() + m_answerLimit;
        for (int flushed; (flushed = PQflush(m_connection)) != 0;) {
            if (flushed < 0)
                return Result(nullptr);
            const short ready = wait(POLLIN | POLLOUT, deadline);
            if (ready == 0)
                return silent();
            // The server may answer (an error) before it has read the whole query.
            if ((ready & POLLIN) && !PQconsumeInput(m_connection))
                break;
        }
        PGresult* last = nullptr;
        for (;;) {
            while (PQisBusy(m_connection)) {
                if (wait(POLLIN, deadline) == 0) {
                    PQclear(last);
                    return silent();
                }
                if (!PQconsumeInput(m_connection))
                    break;
            }
            // Still busy after a failed read: PQgetResult would block.
            if (PQisBusy(m_connection))
                break;
            PGresult* result = PQgetResult(m_connection);
            if (!result)
                break;
            PQclear(last);
            last = result;
            if (PQstatus(m_connection) == CONNECTION_BAD)
                break;
        }
        return Result(last);
    }
    // The events of the connection's socket that came before the deadline; none at the deadline.
    short wait(short events, std::chrono::steady_clock::time_point deadline) const
    {
        pollfd watched{PQsocket(m_connection), events, 0};
        // Without a socket, libpq's next call tells why.
        if (watched.fd < 0)
            return events;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return 0;
            const int ready = poll(&watched, 1, static_cast<int>(left.count()));
            if (ready > 0)
                return watched.revents;
            if (ready < 0 && errno != EINTR)
                return events;
        }
    }
    // Gives up on a server that did not answer in time, for this and every later call.
    Result silent()
    {
        cancel();
        m_silent = "the record server at " + m_location + " did not answer within " +
                   secondsText(m_answerLimit) + " s";
        return Result(nullptr);
    }
    // Asks the server to stop the query, as far as it still listens. PQcancel waits for the
    // server to close the request's connection, which a silent one may never do: it runs on a
    // thread of its own, and is waited for up to CancelLimit.
    void cancel()
    {
        PGcancel* request = PQgetCancel(m_connection);
        if (!request)
            return;
        struct Done {
            std::mutex mutex;
            std::condition_variable changed;
            bool done = false;
        };
        const auto state = std::make_shared<Done>();
        try {
            std::thread([request, state] {
                char ignored[256];
                PQcancel(request, ignored, sizeof ignored);
                PQfreeCancel(request);
                const std::lock_guard lock(state->mutex);
                state->done = true;
                state->changed.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            PQfreeCancel(request);
            return;
        }
        std::unique_lock lock(state->mutex);
        state->changed.wait_for(lock, CancelLimit, [&] { return state->done; });
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
        if (!m_silent.empty())
            return m_silent;
        return "record " + m_location + ": " + oneLine(PQerrorMessage(m_connection));
    }

    // The row that holds mac; `failed` when the query did not run.
    std::optional<RecordEntry> holder(const std::string& mac, bool& failed);
    bool insert(const RecordEntry& entry, bool macInUse, std::string* state = nullptr);

    std::string m_location;
    PGconn* m_connection;
    std::mutex m_mutex;
    std::chrono::milliseconds m_answerLimit =
        RecordOptions{}.answerTimeout + RecordOptions{}.busyTimeout;
    std::string m_silent; // why the connection is given up, once a query went unanswered
};

bool PostgresRecord::prepare(const RecordOptions& options, std::string* error)
{
    // Waiting for a lock counts towards a query's deadline.
    m_answerLimit = options.answerTimeout + options.busyTimeout;
    if (PQsetnonblocking(m_connection, 1) != 0) {
        if (error)
            *error = describeError();
        return false;
    }
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
