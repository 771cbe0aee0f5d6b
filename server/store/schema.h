#pragma once

#include <string>
#include <vector>

// The store's tables, as one ordered list of migrations shared by every
// database. A store records the highest version it has applied in
// schema_migrations and applies the rest in order, each in a transaction of
// its own together with its row there. Never change a published step: add
// one.
//
// The SQL is written once for both databases; the few words they spell
// differently are placeholders that dialectSql() fills in:
//   {serial}  an integer key the database numbers itself
//   {bytes}   bytes kept exactly (pages, images, 8-bit texts, client ids)
//   {keyed}   after a table whose rows are found by its primary key alone
namespace vexor::server {

enum class Dialect { Sqlite, Postgresql };

struct Migration {
    int version;
    const char* sql;
};

const std::vector<Migration>& migrations();

// `sql` with the placeholders of `dialect` filled in.
std::string dialectSql(const std::string& sql, Dialect dialect);

// Creates the version table when missing (the same in both databases).
inline constexpr const char* MigrationTableSql
    = "CREATE TABLE IF NOT EXISTS schema_migrations (version BIGINT PRIMARY KEY, applied BIGINT NOT NULL)";

} // namespace vexor::server
