#include "record/sqlite_record.h"

#include "record/record_schema.h"
#include "record/row_import.h"

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace tolvane::record {

namespace {

// Marks the file as Tolvane's, so another program's database is never taken for a record.
constexpr int ApplicationId = 0x544F4C56; // "TOLV"

// Statements prepared once and kept for the life of the connection: a batch or an import runs
// the same few statements many times.
class StatementCache {
public:
    explicit StatementCache(sqlite3* db) : m_db(db) {}
    ~StatementCache()
    {
        for (auto& [sql, statement] : m_statements)
            sqlite3_finalize(statement);
    }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    sqlite3_stmt* get(const std::string& sql)
    {
        auto& statement = m_statements[sql];
        if (!statement && sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                                             &statement, nullptr) != SQLITE_OK)
            statement = nullptr;
        return statement;
    }

private:
    sqlite3* m_db;
    std::map<std::string, sqlite3_stmt*> m_statements;
};

// One prepared statement, finalised (or, when it came from the cache, reset) on every way out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    Statement(StatementCache& cache, const std::string& sql)
        : m_statement(cache.get(sql)), m_cached(true)
    {
    }
    ~Statement()
    {
        if (!m_cached) {
            sqlite3_finalize(m_statement);
        } else if (m_statement) {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }

    void bind(int index, const std::optional<std::string>& text)
    {
        if (text)
            sqlite3_bind_text(m_statement, index, text->c_str(), static_cast<int>(text->size()),
                              SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(m_statement, index);
    }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    void bind(int index, double value) { sqlite3_bind_double(m_statement, index, value); }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_statement); }

    std::optional<std::string> text(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        const auto* bytes = sqlite3_column_text(m_statement, column);
        return std::string(reinterpret_cast<const char*>(bytes),
                           static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    double real(int column) const { return sqlite3_column_double(m_statement, column); }
    bool isNull(int column) const
    {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    bool m_cached = false;
};

class SqliteRecord : public ProductionRecord {
public:
    SqliteRecord(std::string path, sqlite3* db, bool readOnly)
        : m_path(std::move(path)), m_db(db), m_readOnly(readOnly),
          m_cache(std::make_unique<StatementCache>(db))
    {
    }
    ~SqliteRecord() override
    {
        m_cache.reset();
        sqlite3_close_v2(m_db);
    }

    const std::string& location() const override { return m_path; }

    // Checks the file is a record this program can write, creating the table in a new one.
    bool prepare(std::string* error);

    Reservation reserveMac(const RecordEntry& pending, bool allowReused) override;
    bool writeOutcome(const RecordEntry& outcome, std::string* error) override;
    std::optional<std::vector<RecordEntry>> rows(const RecordFilter& filter,
                                                 std::string* error) override;
    std::optional<ImportReport> importRows(const std::vector<RecordEntry>& rows,
                                           std::string* error) override;

private:
    bool execute(const char* sql, std::string* error);
    bool begin(std::string* error) { return execute("BEGIN IMMEDIATE", error); }
    bool commit(std::string* error) { return execute("COMMIT", error); }
    void rollback() { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }
    // Fails the transaction with what SQLite said.
    template <typename T> T abandon(const T& result, std::string* error)
    {
        if (error)
            *error = describeError();
        rollback();
        return result;
    }
    std::string describeError() const;

    std::optional<int> pragmaNumber(const char* pragma, std::string* error);
    // Whether the file holds no database yet; nothing, with *error, when it is not a record
    // this program can use.
    std::optional<bool> checkLayout(std::string* error);
    std::optional<RecordEntry> macHolder(const std::string& mac, bool& queryFailed);
    bool insert(const RecordEntry& entry, bool macInUse);
    bool releasePending(const std::string& unit);
    // Hands a MAC that nobody holds to the first row that still counts: an "ok" row, or a
    // "pending" row whose unit has no outcome yet.
    bool rehold(const std::string& mac);

    std::string m_path;
    sqlite3* m_db;
    bool m_readOnly;
    std::unique_ptr<StatementCache> m_cache;
    std::mutex m_mutex;
};

std::string SqliteRecord::describeError() const
{
    const int code = sqlite3_errcode(m_db) & 0xFF;
    switch (code) {
    case SQLITE_NOTADB: return m_path + " is not a Tolvane production record";
    case SQLITE_READONLY: return "cannot write to record " + m_path + ": it is read-only";
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "record " + m_path + " is locked by another program";
    case SQLITE_FULL: return "cannot write to record " + m_path + ": the disk is full";
    default: break;
    }
    std::string text = "record " + m_path + ": " + sqlite3_errmsg(m_db);
    if (const int system = sqlite3_system_errno(m_db); system != 0)
        text += std::string(" (") + std::strerror(system) + ")";
    return text;
}

bool SqliteRecord::execute(const char* sql, std::string* error)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (error)
        *error = describeError();
    return false;
}

std::optional<int> SqliteRecord::pragmaNumber(const char* pragma, std::string* error)
{
    Statement statement(m_db, pragma);
    if (!statement.ok() || statement.step() != SQLITE_ROW) {
        if (error)
            *error = describeError();
        return std::nullopt;
    }
    return static_cast<int>(statement.integer(0));
}

std::optional<bool> SqliteRecord::checkLayout(std::string* error)
{
    const auto applicationId = pragmaNumber("PRAGMA application_id", error);
    const auto schema = applicationId ? pragmaNumber("PRAGMA user_version", error) : std::nullopt;
    const auto tables =
        schema ? pragmaNumber("SELECT count(*) FROM sqlite_master", error) : std::nullopt;
    if (!tables)
        return std::nullopt;
    const bool empty = *applicationId == 0 && *schema == 0 && *tables == 0;
    if ((!empty || m_readOnly) && *applicationId != ApplicationId) {
        if (error)
            *error = m_path + " is not a Tolvane production record";
        return std::nullopt;
    }
    if (*schema > SchemaVersion) {
        if (error)
            *error = m_path + " holds a production record of schema version " +
                     std::to_string(*schema) +
                     ", written by a newer Tolvane; this one reads up to " +
                     std::to_string(SchemaVersion);
        return std::nullopt;
    }
    return empty;
}

bool SqliteRecord::prepare(std::string* error)
{
    if (m_readOnly)
        return checkLayout(error).has_value();
    // Under the write lock, so two programs opening a new record never both create it; taking
    // the lock also proves the record can be written before anything is sent. Nothing is written
    // to a database that is not a record.
    if (!begin(error))
        return false;
    const auto empty = checkLayout(error);
    if (!empty) {
        rollback();
        return false;
    }
    if (*empty) {
        const std::string create = std::string(SqliteSchema) +
                                   "PRAGMA application_id = " + std::to_string(ApplicationId) +
                                   ";PRAGMA user_version = " + std::to_string(SchemaVersion) + ";";
        if (!execute(create.c_str(), error)) {
            rollback();
            return false;
        }
    }
    if (!commit(error)) {
        rollback();
        return false;
    }
    return execute("PRAGMA journal_mode = WAL", error);
}

constexpr const char* Columns = RowColumns;

RecordEntry readRow(const Statement& row)
{
    RecordEntry entry;
    entry.time =
        parseIsoUtcTime(row.text(0).value_or("")).value_or(std::chrono::system_clock::time_point{});
    entry.target = row.text(1).value_or("");
    entry.type = row.text(2).value_or("");
    entry.file = row.text(3);
    entry.sha256 = row.text(4);
    entry.version = row.text(5);
    entry.mac = row.text(6);
    if (!row.isNull(7))
        entry.serial = static_cast<std::uint32_t>(row.integer(7));
    entry.unit = row.text(8).value_or("");
    entry.result = row.text(9).value_or("");
    entry.message = row.text(10).value_or("");
    entry.durationSeconds = row.real(11);
    return entry;
}

std::optional<RecordEntry> SqliteRecord::macHolder(const std::string& mac, bool& queryFailed)
{
    Statement query(*m_cache, std::string("SELECT ") + Columns +
                                  " FROM units WHERE mac = ?1 AND mac_in_use = 1");
    query.bind(1, mac);
    const int status = query.ok() ? query.step() : SQLITE_ERROR;
    queryFailed = status != SQLITE_ROW && status != SQLITE_DONE;
    if (status != SQLITE_ROW)
        return std::nullopt;
    return readRow(query);
}

bool SqliteRecord::insert(const RecordEntry& entry, bool macInUse)
{
    Statement statement(*m_cache, std::string("INSERT INTO units (") + Columns +
                                      ", mac_in_use) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
                                      "?10, ?11, ?12, ?13)");
    if (!statement.ok())
        return false;
    statement.bind(1, isoUtcTime(entry.time));
    statement.bind(2, entry.target);
    statement.bind(3, entry.type);
    statement.bind(4, entry.file);
    statement.bind(5, entry.sha256);
    statement.bind(6, entry.version);
    statement.bind(7, entry.mac);
    if (entry.serial)
        statement.bind(8, static_cast<std::int64_t>(*entry.serial));
    statement.bind(9, entry.unit);
    statement.bind(10, entry.result);
    statement.bind(11, entry.message);
    statement.bind(12, entry.durationSeconds);
    statement.bind(13, std::int64_t{macInUse ? 1 : 0});
    return statement.step() == SQLITE_DONE;
}

bool SqliteRecord::releasePending(const std::string& unit)
{
    Statement statement(*m_cache,
                        "UPDATE units SET mac_in_use = 0 WHERE unit = ?1 AND result = 'pending'");
    if (!statement.ok())
        return false;
    statement.bind(1, unit);
    return statement.step() == SQLITE_DONE;
}

bool SqliteRecord::rehold(const std::string& mac)
{
    Statement statement(*m_cache, R"(
        UPDATE units SET mac_in_use = 1 WHERE id = (
            SELECT id FROM units AS row WHERE row.mac = ?1 AND (row.result = 'ok' OR
                (row.result = 'pending' AND NOT EXISTS (SELECT 1 FROM units AS later
                    WHERE later.unit = row.unit AND later.result != 'pending')))
            ORDER BY id LIMIT 1)
        AND NOT EXISTS (SELECT 1 FROM units WHERE mac = ?1 AND mac_in_use = 1))");
    if (!statement.ok())
        return false;
    statement.bind(1, mac);
    return statement.step() == SQLITE_DONE;
}

Reservation SqliteRecord::reserveMac(const RecordEntry& pending, bool allowReused)
{
    std::lock_guard lock(m_mutex);
    Reservation result;
    if (!begin(&result.error))
        return result;
    bool queryFailed = false;
    const auto holder = pending.mac ? macHolder(*pending.mac, queryFailed) : std::nullopt;
    if (queryFailed)
        return abandon(result, &result.error);
    if (holder && !allowReused) {
        rollback();
        result.status = Reservation::Status::Used;
        result.holder = holder;
        return result;
    }
    // A MAC sent again on purpose stays counted once, by the unit that held it first.
    if (!insert(pending, pending.mac && !holder) || !commit(&result.error))
        return abandon(result, &result.error);
    result.status = Reservation::Status::Reserved;
    return result;
}

bool SqliteRecord::writeOutcome(const RecordEntry& outcome, std::string* error)
{
    std::lock_guard lock(m_mutex);
    if (!begin(error))
        return false;
    if (!releasePending(outcome.unit))
        return abandon(false, error);
    bool queryFailed = false;
    const bool holds = outcome.result == ResultOk && outcome.mac &&
                       !macHolder(*outcome.mac, queryFailed) && !queryFailed;
    if (queryFailed || !insert(outcome, holds) ||
        (outcome.mac && !holds && !rehold(*outcome.mac)) || !commit(error))
        return abandon(false, error);
    return true;
}

std::optional<std::vector<RecordEntry>> SqliteRecord::rows(const RecordFilter& filter,
                                                           std::string* error)
{
    std::lock_guard lock(m_mutex);
    Statement query(m_db, (std::string("SELECT ") + Columns +
                           " FROM units WHERE (?1 IS NULL OR mac = ?1) AND (?2 IS NULL OR time >= "
                           "?2) ORDER BY id")
                              .c_str());
    if (!query.ok()) {
        if (error)
            *error = describeError();
        return std::nullopt;
    }
    query.bind(1, filter.mac);
    query.bind(2, filter.since ? std::optional(isoUtcTime(*filter.since)) : std::nullopt);
    std::vector<RecordEntry> entries;
    int status;
    while ((status = query.step()) == SQLITE_ROW)
        entries.push_back(readRow(query));
    if (status != SQLITE_DONE) {
        if (error)
            *error = describeError();
        return std::nullopt;
    }
    return entries;
}

std::optional<ImportReport> SqliteRecord::importRows(const std::vector<RecordEntry>& rows,
                                                     std::string* error)
{
    std::lock_guard lock(m_mutex);
    if (!begin(error))
        return std::nullopt;
    const auto report = importRowsWith(
        rows, {[this](const std::string& unit) { return releasePending(unit); },
               [this](const std::string& mac, bool& failed) { return macHolder(mac, failed); },
               [this](const RecordEntry& row, bool holds) { return insert(row, holds); },
               [this](const std::string& mac) { return rehold(mac); }});
    if (!report)
        return abandon(std::optional<ImportReport>(), error);
    if (!commit(error))
        return abandon(std::optional<ImportReport>(), error);
    return report;
}

} // namespace

std::unique_ptr<ProductionRecord> openSqliteRecord(const std::string& path, std::string* error,
                                                   const RecordOptions& options)
{
    // A FIFO or a device as the record would hang or never end.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (error)
            *error = path + " is not a regular file";
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int mode =
        options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int opened = sqlite3_open_v2(path.c_str(), &db, mode | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        if (error) {
            const int system = db ? sqlite3_system_errno(db) : 0;
            *error = "cannot open record " + path + ": " +
                     (system != 0 ? std::strerror(system) : sqlite3_errstr(opened));
        }
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, static_cast<int>(options.busyTimeout.count()));
    auto record = std::make_unique<SqliteRecord>(path, db, options.readOnly);
    if (!record->prepare(error))
        return nullptr;
    return record;
}

} // namespace tolvane::record
