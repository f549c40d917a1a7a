#include "platform/gtk/wayland_instance.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vimbrel {

namespace {

// The runtime folder's path for this display: WAYLAND_DISPLAY is a name in
// that folder or an absolute path.
std::string PathFor(const char* suffix) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    std::string name = display && *display ? display : "wayland-0";
    for (char& c : name)
        if (c == '/') c = '_';
    return std::string(runtime && *runtime ? runtime : "/tmp") + "/vimbrel-" + name + suffix;
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The running keyboard may still be on its way to listening: it is asked
// again for a while.
void AskToComeBack(const std::string& path) {
    sockaddr_un address;
    if (!SocketAddress(path, address)) return;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            close(fd);  // the connection itself is the request
            return;
        }
        close(fd);
        g_usleep(50 * 1000);
    }
}

}  // namespace

WaylandClaim::WaylandClaim() : socketPath_(PathFor(".socket")) {
    const std::string lockPath = PathFor(".lock");
    lock_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0) {
        claimed_ = true;  // nowhere to keep the lock: run, rather than never
        return;
    }
    // The lock goes with the process that holds it, however that ends.
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        close(std::exchange(lock_, -1));
        AskToComeBack(socketPath_);
        return;
    }
    claimed_ = true;
    sockaddr_un address;
    if (!SocketAddress(socketPath_, address)) return;
    unlink(socketPath_.c_str());  // left by a keyboard that was killed
    socket_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ >= 0 &&
        (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(socket_, 4) != 0))
        close(std::exchange(socket_, -1));
    if (socket_ >= 0) watch_ = g_unix_fd_add(socket_, G_IO_IN, OnRequest, this);
}

WaylandClaim::~WaylandClaim() {
    if (watch_) g_source_remove(watch_);
    if (socket_ >= 0) {
        close(socket_);
        unlink(socketPath_.c_str());
    }
    if (lock_ >= 0) close(lock_);
}

void WaylandClaim::OnComeBack(void (*comeBack)(void*), void* data) {
    comeBack_ = comeBack;
    data_ = data;
}

// Only the user's own processes reach the socket, in the user's runtime folder.
gboolean WaylandClaim::OnRequest(gint fd, GIOCondition, gpointer data) {
    auto* self = static_cast<WaylandClaim*>(data);
    const int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return G_SOURCE_CONTINUE;
    close(connection);
    if (self->comeBack_) self->comeBack_(self->data_);
    return G_SOURCE_CONTINUE;
}

}  // namespace vimbrel
