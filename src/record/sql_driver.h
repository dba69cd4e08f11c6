#pragma once

#include "core/base/failure.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvane::record {

// A statement's parameter or a result's column: null, text, a whole number or a real one. A
// driver that reads every column as text (libpq) answers text; the reader converts.
using SqlValue = std::variant<std::monostate, std::string, std::int64_t, double>;
using SqlRow = std::vector<SqlValue>;
using SqlRows = std::vector<SqlRow>;

// Where the SQL of the record differs between databases: kept as data, so every rule of the
// record is written once.
struct SqlDialect {
    // How a statement names its parameters: '?' for ?1, ?2 (SQLite), '$' for $1, $2.
    char parameterMark = '$';
    // Starts a transaction that will write: SQLite takes its write lock at once, so two programs
    // never both read a MAC as free.
    const char* beginWrite = "BEGIN";
    // Taken inside the transaction before the schema is looked at, when the transaction alone
    // does not keep two programs from creating the table at once; "" when it does.
    const char* schemaLock = "";
    // Run once a writable record has been checked; "" for nothing.
    const char* afterWritableOpen = "";
    // The units table's column types: its id, a whole number, a real number.
    struct ColumnTypes {
        const char* id;
        const char* integer;
        const char* real;
    } columnTypes{"", "", ""};
    // How a database with nothing in it is described when it is opened only to be read.
    const char* emptyDatabaseText = "";
    // The database runs inside this program: a report reads the rows it counts one by one, which
    // costs less there than having the database group them. A server groups them itself.
    bool readsInProcess = false;
    // Settings for the one transaction in which a server groups a report's rows; "" for none.
    const char* groupingSettings = "";
};

// One row of a result, read as it comes and valid until the next: its columns by place from 0.
class SqlRowView {
public:
    virtual ~SqlRowView() = default;
    virtual bool isNull(int column) const = 0;
    virtual std::string_view text(int column) const = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
};

// What a database holds, before the record is opened in it.
struct StoredLayout {
    bool marked = false;   // it says it is a Tolvane production record
    bool empty = false;    // nothing in it a record could clash with
    int schemaVersion = 0; // of a marked record
};

// One connection to a database, as the record uses it. Failures carry the text an operator is
// shown, naming the record.
class SqlConnection {
public:
    virtual ~SqlConnection() = default;

    virtual const SqlDialect& dialect() const = 0;
    // Runs statements that answer no rows: a script of several, or one of a transaction's.
    virtual Result<void> execute(const std::string& script) = 0;
    // Runs one statement with its parameters, written with the dialect's marks; its rows.
    virtual Result<SqlRows> query(const std::string& statement,
                                  const std::vector<SqlValue>& parameters = {}) = 0;
    // Runs one statement as query does, handing visit each row as it comes rather than keeping
    // them all; by default through query.
    virtual Result<void> forEachRow(const std::string& statement,
                                    const std::vector<SqlValue>& parameters,
                                    const std::function<void(const SqlRowView&)>& visit);

    // What the database holds; asked inside the transaction that creates the record.
    virtual Result<StoredLayout> inspectLayout() = 0;
    // The statements that mark a freshly created or upgraded record as one of this schema version.
    virtual std::string markScript(int schemaVersion) const = 0;
};

// A column's value as text, whole number or real number, whichever the driver read it as.
std::optional<std::string> sqlText(const SqlValue& value);
std::optional<std::int64_t> sqlInteger(const SqlValue& value);
double sqlReal(const SqlValue& value);

// The statement with $1, $2 written in the dialect's parameter marks.
std::string withParameterMarks(std::string statement, const SqlDialect& dialect);

} // namespace tolvane::record
