#pragma once

#include "record/sql_driver.h"

#include <libpq-fe.h>

#include <chrono>
#include <memory>

namespace tolvane::record {

// libpq's message on one line, as the command line and the message boxes show messages.
std::string oneLine(const std::string& text);

// A connection to a record server through libpq. Every query waits for its answer only until a
// deadline: a server that stops answering leaves the connection open, so neither libpq's timeouts
// nor the kernel's fire. Once a query went unanswered, the connection is given up.
class PostgresConnection : public SqlConnection {
public:
    // Takes over connection. location is the server as messages show it; answerLimit is how long
    // one query may take, waiting for locks included.
    PostgresConnection(std::string location, PGconn* connection,
                       std::chrono::milliseconds answerLimit);
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    const SqlDialect& dialect() const override;
    Result<void> execute(const std::string& script) override;
    Result<SqlRows> query(const std::string& statement,
                          const std::vector<SqlValue>& parameters = {}) override;
    Result<StoredLayout> inspectLayout() override;
    std::string markScript(int schemaVersion) const override;

    // Why the last call failed, as the operator is told it.
    Failure failure() const;

private:
    struct ClearResult {
        void operator()(PGresult* result) const { PQclear(result); }
    };
    using Answer = std::unique_ptr<PGresult, ClearResult>;

    // Sends the statement and waits for its last result until the deadline; nothing when the
    // server did not answer.
    Answer run(const std::string& statement, const std::vector<SqlValue>& parameters);
    bool send(const std::string& statement, const std::vector<SqlValue>& parameters);
    Answer lastResult(std::chrono::steady_clock::time_point deadline);
    // The events of the connection's socket that came before the deadline; none at the deadline.
    short wait(short events, std::chrono::steady_clock::time_point deadline) const;
    // Gives up on a server that did not answer in time, for this and every later call.
    Answer silent();
    // Asks the server to stop the query, as far as it still listens.
    void cancel();

    std::string m_location;
    PGconn* m_connection;
    std::chrono::milliseconds m_answerLimit;
    std::string m_silent; // why the connection is given up, once a query went unanswered
};

} // namespace tolvane::record
