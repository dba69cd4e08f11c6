#pragma once

#include <QStringList>
#include <sqlite3.h>

#include <string>

namespace tolvane::test {

// The record's rows as "MAC result" (or the columns asked for), read the way any SQLite client
// would.
inline QStringList recordRows(const std::string& path,
                              const char* columns = "coalesce(mac, '-'), result")
{
    QStringList rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        const std::string select = std::string("SELECT ") + columns + " FROM units ORDER BY id";
        sqlite3_prepare_v2(db, select.c_str(), -1, &query, nullptr);
        while (query && sqlite3_step(query) == SQLITE_ROW) {
            QStringList fields;
            for (int column = 0; column < sqlite3_column_count(query); ++column)
                fields << reinterpret_cast<const char*>(sqlite3_column_text(query, column));
            rows << fields.join(' ');
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace tolvane::test
