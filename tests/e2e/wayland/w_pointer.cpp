// The pointer of the Wayland end-to-end cases. A headless compositor has no
// input devices: this is a virtual pointer (zwlr_virtual_pointer_v1) of its
// seat, alive as long as its standard input is open and driven by one command
// a line, each answered "ok" once the compositor has handled it:
//
//     move X Y          to this point of the output (of WIDTH x HEIGHT, the arguments)
//     press [BUTTON]    BUTTON: left (default), right, middle
//     release [BUTTON]
//
//     w_pointer WIDTH HEIGHT
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

constexpr std::uint32_t kLeft = 0x110, kRight = 0x111, kMiddle = 0x112;  // Linux BTN_ codes

zwlr_virtual_pointer_manager_v1* g_manager = nullptr;

void OnGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::string_view(interface) == zwlr_virtual_pointer_manager_v1_interface.name)
        g_manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kListener = {OnGlobal, OnGlobalRemove};

std::uint32_t Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

std::uint32_t Button(const std::string& name) {
    if (name == "right") return kRight;
    if (name == "middle") return kMiddle;
    return kLeft;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: w_pointer WIDTH HEIGHT (commands on stdin)\n", stderr);
        return 2;
    }
    const auto width = static_cast<std::uint32_t>(std::atoi(argv[1]));
    const auto height = static_cast<std::uint32_t>(std::atoi(argv[2]));
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("w_pointer: cannot connect to the Wayland display\n", stderr);
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, nullptr);
    wl_display_roundtrip(display);
    if (!g_manager) {
        std::fputs("w_pointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n", stderr);
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_manager, nullptr);
    wl_display_roundtrip(display);
    std::cout << "ready" << std::endl;

    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string command, arg;
        words >> command;
        if (command == "move") {
            long x = -1, y = -1;
            words >> x >> y;
            if (x < 0 || y < 0 || x >= width || y >= height) {
                std::cout << "error outside the output" << std::endl;
                continue;
            }
            zwlr_virtual_pointer_v1_motion_absolute(pointer, Now(), static_cast<std::uint32_t>(x),
                                                    static_cast<std::uint32_t>(y), width, height);
        } else if (command == "press" || command == "release") {
            words >> arg;
            zwlr_virtual_pointer_v1_button(pointer, Now(), Button(arg),
                                           command == "press" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                              : WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            std::cout << "error unknown command" << std::endl;
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) return 1;
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
