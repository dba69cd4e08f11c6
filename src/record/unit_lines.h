#pragma once

#include "record/production_record.h"
#include "record/sql_driver.h"

#include <string>

namespace tolvane::record {

// The statement that answers one line per MAC address (a unit without one: per serial number)
// from the rows of source, for $1 a MAC address or null, $2 a time or null: the units that have a
// row at or after it.
std::string unitLinesStatement(const std::string& source);
UnitLine readUnitLine(const SqlRow& row);

} // namespace tolvane::record
