#pragma once
// Developers: read DEVELOPERS.md at the top of the tree before changing this unit.

#include "app/constants.h"

#include <functional>

// Banner rotation rules, free of any widget: which slot the timer shows and
// which counter goes up. The GUI supplies the three things it knows.
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
    void Timer1Timer();
    // The main window became the active window.
    void FormActivate();
    // End of a completed sync: count one display for the slot BannerPos names.
    void CountCurrentPosition();

    // Skip empty slots from BannerPos (at most 12 steps).
    void advance();

private:
    void showSlot(int slot);
    Constants& m_c;
    View m_view;
};

}  // namespace vexor
