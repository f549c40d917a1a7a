// The three key-event operations every key handler is built from.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace vimbrel {

// keybd_event, not SendInput: every event goes out with scan code 0 and no
// extended-key flag, arrows and keypad Enter included.
inline void KeyPress(Platform& p, int code) { p.KeyDown(static_cast<std::uint8_t>(code)); }
inline void KeyRelease(Platform& p, int code) { p.KeyUp(static_cast<std::uint8_t>(code)); }
// Press and release back to back: nothing of the window runs in between.
inline void KeyStroke(Platform& p, int code) {
    KeyPress(p, code);
    KeyRelease(p, code);
}

}  // namespace vimbrel
