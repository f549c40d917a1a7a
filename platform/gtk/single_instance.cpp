#include "platform/gtk/single_instance.h"

#include <string>

namespace vimbrel {

DisplayClaim::DisplayClaim(Display* display) : display_(display) {
    const std::string name = "_VIMBREL_KEYBOARD_S" + std::to_string(DefaultScreen(display_));
    selection_ = XInternAtom(display_, name.c_str(), False);
    comeBack_ = XInternAtom(display_, "_VIMBREL_COME_BACK", False);
    // An unmapped window of our own owns the selection and hears the requests.
    XSetWindowAttributes attributes{};
    owner_ = XCreateWindow(display_, DefaultRootWindow(display_), -1, -1, 1, 1, 0, CopyFromParent, InputOnly,
                           CopyFromParent, 0, &attributes);
    // Looking and taking in one step: of several keyboards started at once, one wins.
    XGrabServer(display_);
    const Window running = XGetSelectionOwner(display_, selection_);
    if (running == None) XSetSelectionOwner(display_, selection_, owner_, CurrentTime);
    XUngrabServer(display_);
    if (running == None) {
        claimed_ = XGetSelectionOwner(display_, selection_) == owner_;
        return;
    }
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = running;
    request.xclient.message_type = comeBack_;
    request.xclient.format = 32;
    XSendEvent(display_, running, False, NoEventMask, &request);
    XSync(display_, False);
}

DisplayClaim::~DisplayClaim() {
    if (owner_ != None) XDestroyWindow(display_, owner_);
}

bool DisplayClaim::IsComeBackRequest(const XEvent& event) const {
    return claimed_ && event.type == ClientMessage && event.xclient.window == owner_ &&
           event.xclient.message_type == comeBack_;
}

}  // namespace vimbrel
