#include "record/postgres_record.h"

#include "record/postgres_connection.h"
#include "record/sql_record.h"

namespace tolvane::record {

Result<std::unique_ptr<ProductionRecord>> openPostgresRecord(const std::string& location,
                                                             const RecordOptions& options)
{
    // Our limits come first, so the location's own settings win over them.
    const char* keywords[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname",
                              nullptr};
    const char* values[] = {"10", "10000", "tolvane", location.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    const std::string shown = withoutPassword(location);
    if (!connection || PQstatus(connection) != CONNECTION_OK) {
        const std::string why = connection ? oneLine(PQerrorMessage(connection)) : "out of memory";
        PQfinish(connection);
        return Failure(0, "cannot connect to record " + shown + ": " + why);
    }
    // Waiting for a lock counts towards a query's deadline.
    auto db = std::make_unique<PostgresConnection>(shown, connection,
                                                   options.answerTimeout + options.busyTimeout);
    if (PQsetnonblocking(connection, 1) != 0)
        return db->failure();
    const auto limited =
        db->execute("SET lock_timeout = " + std::to_string(options.busyTimeout.count()));
    if (!limited)
        return limited.failure();
    return openSqlRecord(shown, std::move(db), options.readOnly);
}

} // namespace tolvane::record
