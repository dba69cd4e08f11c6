#pragma once

#include "core/ptz/ptz_protocol.h"

#include <QString>

namespace tolvane {

// Protocol names are bytes in the record: shown as UTF-8 when they are, byte for byte otherwise,
// so a name written by another tool is never shown as replacement characters.
QString protocolNameText(const PtzProtocol& record);
// The list row of a protocol, "[%03d]%s".
QString entryRowText(const PtzProtocol& record);
// The protocol number a list row carries.
std::int32_t rowNumber(const QString& rowText);

} // namespace tolvane
