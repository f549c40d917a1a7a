// One keyboard per X display: the first one owns a selection named after the
// screen; a later start finds the owner, asks it to come back and ends.
#pragma once

#include <X11/Xlib.h>

namespace vimbrel {

class DisplayClaim {
public:
    explicit DisplayClaim(Display* display);
    ~DisplayClaim();
    DisplayClaim(const DisplayClaim&) = delete;
    DisplayClaim& operator=(const DisplayClaim&) = delete;

    // This is the display's only keyboard. If not, the running one has been asked to come back.
    bool Claimed() const { return claimed_; }
    // A later start's request to come back.
    bool IsComeBackRequest(const XEvent& event) const;

private:
    Display* display_;
    Window owner_ = None;
    Atom selection_ = None;
    Atom comeBack_ = None;
    bool claimed_ = false;
};

}  // namespace vimbrel
