#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Banner line-ups: which banner each of the client's ten slots shows and how
// fast the client rotates them.
namespace vexor::server {

inline constexpr int SlotCount = 10;
inline constexpr std::string_view EmptySlotId = "000000";
// The LCOUNT answer carries the interval in six hexadecimal digits.
inline constexpr std::uint32_t MaxIntervalMs = 0xFFFFFF;

struct Lineup {
    std::array<std::string, SlotCount> ids; // slot 0 first; "000000" = empty slot
    std::uint32_t intervalMs = 0;

    bool operator==(const Lineup&) const = default;
};

struct LineupParse {
    std::optional<Lineup> lineup; // empty on error
    std::string error;            // what is wrong, e.g. "value 4: \"10002\" is not a banner id"
};

// Reads a line-up file: values separated by blanks, tabs or line ends; "#"
// starts a comment that runs to the end of its line; a leading UTF-8
// byte-order mark is ignored. Exactly eleven values: ten banner ids (slot 0
// first) and the rotation interval in decimal milliseconds, 0 to 16777215.
LineupParse parseLineup(std::string_view text);

// A banner id is six ASCII letters or digits; "000000" is the empty slot.
bool isBannerId(std::string_view id);

// The LCOUNT answer: the ten ids, then the interval as six upper-case
// hexadecimal digits; always 66 characters, no line end.
std::string countAnswer(const Lineup& lineup);

// Hands out the line-ups in turn: with `every` N above 0 the first N calls of
// next() give line-up 0, the next N line-up 1 and so on, back to 0 after the
// last; with 0 every call gives line-up 0. Thread-safe; the line-ups never
// change after construction.
class LineupRotation {
public:
    // `lineups` must not be empty.
    LineupRotation(std::vector<Lineup> lineups, std::uint64_t every);

    const Lineup& next();
    std::size_t size() const { return m_lineups.size(); }

private:
    std::vector<Lineup> m_lineups;
    std::uint64_t m_every;
    std::atomic<std::uint64_t> m_served { 0 };
};

} // namespace vexor::server
