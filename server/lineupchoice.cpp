#include "lineupchoice.h"

namespace vexor::server {

namespace {

bool inForce(const StoredLineup& lineup, UnixTime now, std::string_view clientId)
{
    if (lineup.validFrom && now < *lineup.validFrom)
        return false;
    if (lineup.validUntil && now >= *lineup.validUntil)
        return false;
    return !lineup.clientId || *lineup.clientId == clientId;
}

bool newer(const StoredLineup& a, const StoredLineup& b)
{
    return a.created != b.created ? a.created > b.created : a.id > b.id;
}

} // namespace

const StoredLineup* chooseStoredLineup(const std::vector<StoredLineup>& lineups, UnixTime now,
    std::string_view clientId, std::uint64_t served, std::uint64_t rotateEvery)
{
    const StoredLineup* planned = nullptr;
    std::vector<const StoredLineup*> standing;
    for (const auto& lineup : lineups) {
        if (lineup.standing())
            standing.push_back(&lineup);
        else if (inForce(lineup, now, clientId) && (!planned || newer(lineup, *planned)))
            planned = &lineup;
    }
    if (planned)
        return planned;
    if (standing.empty())
        return nullptr;
    const std::size_t index = rotateEvery == 0 ? 0 : (served / rotateEvery) % standing.size();
    return standing[index];
}

Lineup chooseLineup(const std::vector<StoredLineup>& lineups, UnixTime now, std::string_view clientId,
    std::uint64_t served, std::uint64_t rotateEvery)
{
    if (const auto* chosen = chooseStoredLineup(lineups, now, clientId, served, rotateEvery))
        return chosen->lineup;
    Lineup empty;
    empty.ids.fill(std::string(EmptySlotId));
    empty.intervalMs = NoLineupIntervalMs;
    return empty;
}

} // namespace vexor::server
