#pragma once

#include "record/record_entry.h"

#include <QString>
#include <QStringList>

namespace tolvane {

// The table's column captions: the columns of `record units`.
QStringList unitColumnCaptions();
// A unit's cells in those columns, "-" for what the record does not know.
QStringList unitLineCells(const record::UnitLine& line);
// Whether the line's MAC address contains macPart (any case, ':' and '-' ignored) and its serial
// number contains serialPart; an empty part matches every line.
bool unitLineMatches(const record::UnitLine& line, const QString& macPart,
                     const QString& serialPart);
// Whether "Release..." can free the line's identity: its unit is unconfirmed or pending, and it
// has a MAC address or serial number.
bool unitLineReleasable(const record::UnitLine& line);
// "MAC address 0012AB000001", or "serial number 1000" for a unit without one.
QString unitIdentityText(const record::UnitLine& line);

} // namespace tolvane
