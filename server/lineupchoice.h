#pragma once

#include "store.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace vexor::server {

// The interval of the answer when the store holds no line-up at all: every
// slot empty, and the client has nothing to rotate anyway.
inline constexpr std::uint32_t NoLineupIntervalMs = 60000;

// The line-up LCOUNT answers a client at `now`: among the planned line-ups in
// force (validFrom <= now < validUntil, an open end never ends; no client
// filter, or that client's id) the most recently created (the higher id on a
// tie); else a standing one: the first, or with `rotateEvery` N above 0 the
// next one after every N count answers (`served` is how many came before
// this one); else ten empty slots.
Lineup chooseLineup(const std::vector<StoredLineup>& lineups, UnixTime now, std::string_view clientId,
    std::uint64_t served, std::uint64_t rotateEvery);

// The same choice as the entry of `lineups` it picks; nullptr for the ten
// empty slots. The console marks the line-up in force with it.
const StoredLineup* chooseStoredLineup(const std::vector<StoredLineup>& lineups, UnixTime now,
    std::string_view clientId, std::uint64_t served, std::uint64_t rotateEvery);

} // namespace vexor::server
