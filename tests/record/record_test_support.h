#pragma once

#include "record/production_record.h"
#include "support/postgres_cluster.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace tolvane::record_test {

using namespace tolvane::record;

// Why an operation failed; "" when it did not.
template <typename T> std::string failureText(const Result<T>& result)
{
    return result ? std::string() : result.failure().text();
}

// A unit's row as the download command writes it, at a fixed time.
inline RecordEntry unitRow(const std::string& unit, const std::optional<std::string>& mac,
                           const std::string& result)
{
    RecordEntry entry;
    entry.time = std::chrono::sys_days(std::chrono::year(2026) / 12 / 8) + std::chrono::hours(6);
    entry.target = "127.0.0.1:5000";
    entry.type = "data";
    entry.mac = mac;
    entry.unit = unit;
    entry.result = result;
    entry.message = result == "failed" ? "Can't connect" : "";
    return entry;
}

// A record in a fresh folder (SQLite), or in a fresh database of this program's own PostgreSQL
// cluster after useServer(); open() fails the test when the record cannot be opened.
struct RecordFixture : ::testing::Test {
    test::TempDir dir;
    std::string location = dir.file("units.db");
    test::PostgresCluster* cluster = nullptr;
    std::string database; // on the server

    void useServer()
    {
        std::string error;
        cluster = test::sharedPostgresCluster(&error);
        ASSERT_TRUE(cluster) << error;
        const auto fresh = cluster->freshDatabase(&error);
        ASSERT_TRUE(fresh) << error;
        database = *fresh;
        location = cluster->location(database);
    }

    std::unique_ptr<ProductionRecord> open(RecordOptions options = {})
    {
        auto record = openProductionRecord(location, options);
        EXPECT_TRUE(record) << failureText(record);
        return record ? std::move(*record) : nullptr;
    }
};

enum class Store { Sqlite, Postgres };
// The server's cases live in a program of their own (record_server_tests) that shares one
// cluster; the SQLite cases run one by one.
#ifdef TOLVANE_RECORD_ON_SERVER
inline const auto Stores = ::testing::Values(Store::Postgres);
#else
inline const auto Stores = ::testing::Values(Store::Sqlite);
#endif

inline std::string storeName(Store store)
{
    return store == Store::Sqlite ? "Sqlite" : "Postgres";
}

inline void PrintTo(Store store, std::ostream* out)
{
    *out << storeName(store);
}

// A test run for the program's store.
struct StoreFixture : RecordFixture, ::testing::WithParamInterface<Store> {
    void SetUp() override
    {
        if (GetParam() == Store::Postgres)
            useServer();
    }
};

// A table of cases run for the program's store: the parameter is (store, case).
template <typename Case>
struct StoreTable : RecordFixture, ::testing::WithParamInterface<std::tuple<Store, Case>> {
    void SetUp() override
    {
        if (std::get<0>(this->GetParam()) == Store::Postgres)
            useServer();
    }
    const Case& row() const { return std::get<1>(this->GetParam()); }
};

// "Postgres_CaseName"
template <typename Case>
std::string storeCaseName(const ::testing::TestParamInfo<std::tuple<Store, Case>>& info)
{
    return storeName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
}

} // namespace tolvane::record_test
