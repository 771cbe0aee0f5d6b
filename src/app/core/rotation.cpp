#include "app/core/rotation.h"

#include <limits>
#include <utility>

namespace vexor {

namespace {

// Slot 9 is stored and reported like the others but is never rotated to.
constexpr std::int32_t LastRotatedSlot = 8;
constexpr int MaxAdvanceSteps = 12;

bool isSlot(std::int32_t pos)
{
    return pos >= 0 && pos < BannerSlotCount;
}

}  // namespace

BannerRotation::BannerRotation(Constants& c, View view)
    : m_c(c)
    , m_view(std::move(view))
{
}

bool BannerRotation::slotEmpty(std::int32_t pos) const
{
    return !isSlot(pos) || m_c.BannerIds[pos] == EmptyBannerId;
}

void BannerRotation::advance()
{
    // Twelve steps cover a whole round of nine slots even when every slot is
    // empty, so the loop always ends.
    for (int step = 0; step < MaxAdvanceSteps && slotEmpty(m_c.BannerPos); ++step) {
        const std::int32_t pos = m_c.BannerPos;
        m_c.BannerPos = (pos < 0 || pos >= LastRotatedSlot) ? 0 : pos + 1;
    }
}

void BannerRotation::Timer1Timer()
{
    if (m_c.BannerPos > LastRotatedSlot || m_c.BannerPos < 0) {
        // A position past the rotated slots, or one that a settings file made
        // negative, restarts the round at slot 0, filled or not.
        m_c.BannerPos = 0;
        showSlot(0);
    } else {
        advance();
        showSlot(m_c.BannerPos);
        ++m_c.BannerPos;
    }
    advance();
}

void BannerRotation::showSlot(int slot)
{
    try {
        m_view.show(slot);
        m_c.FirstActivation = false;
        if (m_view.isActive && m_view.isActive())
            countDisplay(slot);
    } catch (...) {
        // A banner that cannot be shown must not stop the rotation.
    }
}

void BannerRotation::FormActivate()
{
    if (!m_c.FirstActivation)
        countDisplay(m_c.BannerPos);
    m_c.FirstActivation = false;
}

void BannerRotation::CountCurrentPosition()
{
    countDisplay(m_c.BannerPos);
}

void BannerRotation::countDisplay(std::int32_t slot)
{
    // A position outside the table (a hand-edited settings file) counts nothing.
    if (!isSlot(slot))
        return;
    std::int32_t& count = m_c.BannerCounts[slot];
    if (count < std::numeric_limits<std::int32_t>::max())
        ++count;
}

}  // namespace vexor
