#include "record/sqlite_record.h"

#include "record/sql_record.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::record {

namespace {

// Marks the file as Tolvane's, so another program's database is never taken for a record.
constexpr int ApplicationId = 0x544F4C56; // "TOLV"

// The write lock taken at the start keeps a second program out; WAL mode lets readers read while
// a program writes.
const SqlDialect SqliteDialect{
    .parameterMark = '?',
    .beginWrite = "BEGIN IMMEDIATE",
    .afterWritableOpen = "PRAGMA journal_mode = WAL",
    .columnTypes = {"INTEGER PRIMARY KEY", "INTEGER", "REAL"},
    .emptyDatabaseText = " is not a Tolvane production record",
    .readsInProcess = true,
};

// The folder of the record's file, where SQLite keeps its journal and WAL files beside it.
std::string folderOf(const std::string& path)
{
    const auto folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder.string();
}

// Whether the folder exists and this program may not create files in it.
bool folderIsReadOnly(const std::string& path)
{
    if (::faccessat(AT_FDCWD, folderOf(path).c_str(), W_OK, AT_EACCESS) == 0)
        return false;
    return errno == EACCES || errno == EROFS;
}

// "file:" and the path with every byte a URI could take for more than a letter escaped.
std::string fileUri(const std::string& path)
{
    std::string uri = path.starts_with('/') ? "file://" : "file:";
    for (const char c : path) {
        if (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-~", c))
            uri += c;
        else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        }
    }
    return uri;
}

// Resets a statement from the cache, and clears its parameters, on every way out.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement) : m_statement(statement) {}
    ~StatementUse()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

private:
    sqlite3_stmt* m_statement;
};

void bind(sqlite3_stmt* statement, int index, const SqlValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value))
        sqlite3_bind_text(statement, index, text->c_str(), static_cast<int>(text->size()),
                          SQLITE_TRANSIENT);
    else if (const auto* integer = std::get_if<std::int64_t>(&value))
        sqlite3_bind_int64(statement, index, *integer);
    else if (const auto* real = std::get_if<double>(&value))
        sqlite3_bind_double(statement, index, *real);
    else
        sqlite3_bind_null(statement, index);
}

SqlValue column(sqlite3_stmt* statement, int index)
{
    switch (sqlite3_column_type(statement, index)) {
    case SQLITE_NULL: return {};
    case SQLITE_INTEGER: return std::int64_t{sqlite3_column_int64(statement, index)};
    case SQLITE_FLOAT: return sqlite3_column_double(statement, index);
    default: break;
    }
    const auto* bytes = sqlite3_column_text(statement, index);
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

// The row a statement stands on, read in place.
class SteppedRow : public SqlRowView {
public:
    explicit SteppedRow(sqlite3_stmt* statement) : m_statement(statement) {}
    bool isNull(int column) const override
    {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    std::string_view text(int column) const override
    {
        const auto* bytes = sqlite3_column_text(m_statement, column);
        return bytes ? std::string_view(
                           reinterpret_cast<const char*>(bytes),
                           static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                     : std::string_view();
    }
    std::int64_t integer(int column) const override
    {
        return sqlite3_column_int64(m_statement, column);
    }
    double real(int column) const override { return sqlite3_column_double(m_statement, column); }

private:
    sqlite3_stmt* m_statement;
};

// One connection to a record file. Statements are prepared once and kept for the life of the
// connection: a batch or an import runs the same few statements many times.
class SqliteConnection : public SqlConnection {
public:
    SqliteConnection(std::string path, sqlite3* db) : m_path(std::move(path)), m_db(db) {}
    ~SqliteConnection() override
    {
        for (auto& [sql, statement] : m_statements)
            sqlite3_finalize(statement);
        sqlite3_close_v2(m_db);
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    const SqlDialect& dialect() const override { return SqliteDialect; }

    Result<void> execute(const std::string& script) override
    {
        if (sqlite3_exec(m_db, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return failure();
        return {};
    }

    Result<SqlRows> query(const std::string& sql, const std::vector<SqlValue>& parameters) override
    {
        SqlRows rows;
        auto stepped = step(sql, parameters, [&rows](sqlite3_stmt* statement) {
            SqlRow& row = rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                row.push_back(column(statement, i));
        });
        if (!stepped)
            return stepped.failure();
        return rows;
    }

    Result<void> forEachRow(const std::string& sql, const std::vector<SqlValue>& parameters,
                            const std::function<void(const SqlRowView&)>& visit) override
    {
        return step(sql, parameters,
                    [&visit](sqlite3_stmt* statement) { visit(SteppedRow(statement)); });
    }

    Result<StoredLayout> inspectLayout() override
    {
        const auto applicationId = number("PRAGMA application_id");
        if (!applicationId)
            return applicationId.failure();
        const auto schema = number("PRAGMA user_version");
        if (!schema)
            return schema.failure();
        const auto tables = number("SELECT count(*) FROM sqlite_master");
        if (!tables)
            return tables.failure();
        return StoredLayout{*applicationId == ApplicationId,
                            *applicationId == 0 && *schema == 0 && *tables == 0, *schema};
    }

    std::string markScript(int schemaVersion) const override
    {
        return "PRAGMA application_id = " + std::to_string(ApplicationId) +
               ";PRAGMA user_version = " + std::to_string(schemaVersion) + ";";
    }

private:
    template <typename OnRow>
    Result<void> step(const std::string& sql, const std::vector<SqlValue>& parameters, OnRow onRow)
    {
        sqlite3_stmt* statement = prepared(sql);
        if (!statement)
            return failure();
        const StatementUse use(statement);
        for (std::size_t i = 0; i < parameters.size(); ++i)
            bind(statement, static_cast<int>(i + 1), parameters[i]);
        int status;
        while ((status = sqlite3_step(statement)) == SQLITE_ROW)
            onRow(statement);
        if (status != SQLITE_DONE)
            return failure();
        return {};
    }

    sqlite3_stmt* prepared(const std::string& sql)
    {
        auto& statement = m_statements[sql];
        if (!statement && sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                                             &statement, nullptr) != SQLITE_OK)
            statement = nullptr;
        return statement;
    }

    Result<int> number(const char* sql)
    {
        const auto rows = query(sql, {});
        if (!rows)
            return rows.failure();
        if (rows->empty() || rows->front().empty())
            return failure();
        return static_cast<int>(sqlInteger(rows->front().front()).value_or(0));
    }

    // What SQLite said of the last call, as the operator is told it.
    Failure failure() const
    {
        const int code = sqlite3_errcode(m_db) & 0xFF;
        // The journal and WAL files SQLite writes beside the record need its folder.
        if ((code == SQLITE_READONLY || code == SQLITE_CANTOPEN) && folderIsReadOnly(m_path))
            return {0, "cannot write to record " + m_path + ": its folder " + folderOf(m_path) +
                           " is read-only"};
        switch (code) {
        case SQLITE_NOTADB: return {0, m_path + " is not a Tolvane production record"};
        case SQLITE_READONLY: return {0, "cannot write to record " + m_path + ": it is read-only"};
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return {0, "record " + m_path + " is locked by another program"};
        case SQLITE_FULL: return {0, "cannot write to record " + m_path + ": the disk is full"};
        default: break;
        }
        std::string text = "record " + m_path + ": " + sqlite3_errmsg(m_db);
        if (const int system = sqlite3_system_errno(m_db); system != 0)
            text += std::string(" (") + std::strerror(system) + ")";
        return {0, text};
    }

    std::string m_path;
    sqlite3* m_db;
    std::map<std::string, sqlite3_stmt*> m_statements;
};

} // namespace

Result<std::unique_ptr<ProductionRecord>> openSqliteRecord(const std::string& path,
                                                           const RecordOptions& options)
{
    // A FIFO or a device as the record would hang or never end.
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        return Failure(0, path + " is not a regular file");
    if (!exists && !options.readOnly && folderIsReadOnly(path))
        return Failure(0, "cannot create record " + path + ": its folder " + folderOf(path) +
                              " is read-only");
    // A record in a folder this program cannot write is read as a file nobody changes: SQLite
    // could not create the files a reader of a WAL record shares with its writers.
    const bool immutable = options.readOnly && exists && folderIsReadOnly(path) &&
                           ::access((path + "-wal").c_str(), F_OK) != 0;
    const std::string name = immutable ? fileUri(path) + "?immutable=1" : path;
    sqlite3* db = nullptr;
    const int mode =
        (options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        (immutable ? SQLITE_OPEN_URI : 0);
    const int opened = sqlite3_open_v2(name.c_str(), &db, mode | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        const int system = db ? sqlite3_system_errno(db) : 0;
        sqlite3_close_v2(db);
        if (system != 0)
            return Failure(system, "cannot open record " + path);
        return Failure(0, "cannot open record " + path + ": " + sqlite3_errstr(opened));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, static_cast<int>(options.busyTimeout.count()));
    return openSqlRecord(path, std::make_unique<SqliteConnection>(path, db), options.readOnly);
}

} // namespace tolvane::record
