#include "store.h"

#include "sqlitestore.h"

namespace vexor::server {

// One place that maps a location to its database; each database's code stays
// in its own class.
std::unique_ptr<Store> openStore(const std::string& location)
{
    if (location.starts_with("postgresql://") || location.starts_with("postgres://"))
        throw StoreError("PostgreSQL stores are not built into this server yet");
    if (location.empty())
        throw StoreError("a store file is needed");
    return std::make_unique<SqliteStore>(location);
}

} // namespace vexor::server
