#include "record/sql_transaction.h"

namespace tolvane::record {

Result<SqlTransaction> SqlTransaction::begin(SqlConnection& db, const char* statement)
{
    if (auto begun = db.execute(statement); !begun)
        return begun.failure();
    return SqlTransaction(db);
}

SqlTransaction::~SqlTransaction()
{
    if (m_db)
        m_db->execute("ROLLBACK");
}

Result<void> SqlTransaction::commit()
{
    // A commit that failed leaves the transaction open in SQLite: it is rolled back on the way out.
    auto committed = m_db->execute("COMMIT");
    if (committed)
        m_db = nullptr;
    return committed;
}

Result<void> SqlTransaction::rollback()
{
    return std::exchange(m_db, nullptr)->execute("ROLLBACK");
}

} // namespace tolvane::record
