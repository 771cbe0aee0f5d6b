#pragma once

#include "app/core/constants.h"

#include <functional>

// Banner rotation rules, free of any widget: which slot the timer shows and
// which counter goes up. The GUI supplies the two things it knows. Works on
// the shared state `c` (BannerIds, BannerCounts, BannerPos, FirstActivation);
// GUI thread only. Counters stop at INT32_MAX instead of wrapping, and a
// BannerPos outside 0..9 counts nothing.
namespace vexor {

class BannerRotation {
public:
    struct View {
        // Shows the banner page of `slot` (BannerDir + slot + ".htm"). May throw;
        // an error is swallowed by the rotation.
        std::function<void(int slot)> show;
        // True while the main window is the active window.
        std::function<bool()> isActive;
    };

    BannerRotation(Constants& c, View view);

    // One timer tick (also called once by the main window's creation).
    // BannerPos of 9 or more, or negative, restarts at slot 0 (shown even when
    // empty); otherwise advances, shows the slot reached and moves one on.
    // Either way it then advances again, so BannerPos names the next slot
    // to show (9 when slot 9 holds a banner). An error thrown by View::show
    // is swallowed: FirstActivation and the counters stay as they were for
    // that tick, BannerPos still moves on.
    void Timer1Timer();
    // The main window became the active window: unless FirstActivation is
    // still set, one display is counted for the slot BannerPos names (the
    // next one to be shown); then FirstActivation is cleared.
    void FormActivate();
    // End of a completed sync: count one display for the slot BannerPos names.
    void CountCurrentPosition();

    // Skip empty slots from BannerPos: while the slot is empty ("000000"),
    // step to the next, wrapping to 0 after slot 8 (a position outside 0..9
    // steps to 0); at most 12 steps, so it may end on an empty slot.
    void advance();

private:
    bool slotEmpty(std::int32_t pos) const;
    void showSlot(int slot);
    void countDisplay(std::int32_t slot);
    Constants& m_c;
    View m_view;
};

}  // namespace vexor
