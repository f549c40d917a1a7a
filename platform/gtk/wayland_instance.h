// One keyboard per Wayland display. The first one holds a lock named after
// the display in the session's runtime folder and listens on a socket beside
// it; a later start finds the lock held, asks the running one to come back
// by connecting to the socket, and ends.
#pragma once

#include <glib.h>

#include <string>

namespace vimbrel {

class WaylandClaim {
public:
    WaylandClaim();
    ~WaylandClaim();
    WaylandClaim(const WaylandClaim&) = delete;
    WaylandClaim& operator=(const WaylandClaim&) = delete;

    // This is the display's only keyboard. If not, the running one has been asked to come back.
    bool Claimed() const { return claimed_; }
    // Runs comeBack(data) on each later start's request, from GLib's main loop.
    void OnComeBack(void (*comeBack)(void*), void* data);

private:
    static gboolean OnRequest(gint fd, GIOCondition, gpointer self);

    std::string socketPath_;
    int lock_ = -1;
    int socket_ = -1;
    guint watch_ = 0;
    bool claimed_ = false;
    void (*comeBack_)(void*) = nullptr;
    void* data_ = nullptr;
};

}  // namespace vimbrel
