#pragma once

namespace tolvane::record {

// The version of the record's layout; a later program that changes it upgrades older records.
inline constexpr int SchemaVersion = 1;

// One row per unit and outcome. mac_in_use marks the one row that holds a MAC address: an "ok"
// row, or a "pending" row whose unit has no outcome yet. The unique index makes the database
// itself refuse a second holder.
inline constexpr const char* SqliteSchema = R"(
CREATE TABLE units (
    id INTEGER PRIMARY KEY,
    time TEXT NOT NULL,
    target TEXT NOT NULL,
    type TEXT NOT NULL,
    file TEXT,
    sha256 TEXT,
    version TEXT,
    mac TEXT,
    serial INTEGER,
    unit TEXT NOT NULL,
    result TEXT NOT NULL,
    message TEXT NOT NULL,
    duration_s REAL NOT NULL,
    mac_in_use INTEGER NOT NULL DEFAULT 0 CHECK (mac_in_use IN (0, 1))
);
CREATE UNIQUE INDEX units_used_mac ON units (mac) WHERE mac_in_use = 1;
CREATE INDEX units_mac ON units (mac);
CREATE INDEX units_unit ON units (unit);
CREATE INDEX units_time ON units (time);
)";

// The same table on a PostgreSQL server. The server has no application id, so a table of its own
// marks the database as a record and holds the schema version.
inline constexpr const char* PostgresSchema = R"(
CREATE TABLE units (
    id BIGSERIAL PRIMARY KEY,
    time TEXT NOT NULL,
    target TEXT NOT NULL,
    type TEXT NOT NULL,
    file TEXT,
    sha256 TEXT,
    version TEXT,
    mac TEXT,
    serial BIGINT,
    unit TEXT NOT NULL,
    result TEXT NOT NULL,
    message TEXT NOT NULL,
    duration_s DOUBLE PRECISION NOT NULL,
    mac_in_use INTEGER NOT NULL DEFAULT 0 CHECK (mac_in_use IN (0, 1))
);
CREATE UNIQUE INDEX units_used_mac ON units (mac) WHERE mac_in_use = 1;
CREATE INDEX units_mac ON units (mac);
CREATE INDEX units_unit ON units (unit);
CREATE INDEX units_time ON units (time);
CREATE TABLE tolvane_record (schema_version INTEGER NOT NULL);
)";

// The columns of a row, in the order every query reads and writes them.
inline constexpr const char* RowColumns =
    "time, target, type, file, sha256, version, mac, serial, unit, result, message, duration_s";

} // namespace tolvane::record
