#pragma once

#include "record/sql_driver.h"

#include <utility>

namespace tolvane::record {

// A transaction on a connection, rolled back on every way out unless it was committed.
class SqlTransaction {
public:
    // Starts one with `statement` ("BEGIN", or the dialect's beginWrite).
    static Result<SqlTransaction> begin(SqlConnection& db, const char* statement);
    SqlTransaction(SqlTransaction&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
    SqlTransaction& operator=(SqlTransaction&&) = delete;
    ~SqlTransaction();

    Result<void> commit();
    // Ends it without a change, saying whether the database took that.
    Result<void> rollback();

private:
    explicit SqlTransaction(SqlConnection& db) : m_db(&db) {}

    SqlConnection* m_db; // none once the transaction has ended
};

} // namespace tolvane::record
