#pragma once

#include "record/production_record.h"
#include "record/sql_driver.h"

namespace tolvane::record {

// The production record over an SQL connection, whichever database it reaches: checks the
// database is a record (creating it in an empty one unless readOnly), then keeps the record's
// rules in it.
Result<std::unique_ptr<ProductionRecord>>
openSqlRecord(std::string location, std::unique_ptr<SqlConnection> db, bool readOnly);

} // namespace tolvane::record
