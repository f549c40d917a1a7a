// soak_predict: the key events the keyboard should send for a sequence of clicks,
// computed by the core on the recording platform.
//
// Reads one click per line from standard input: a key's control id in hex
// (0x1041 is the A key), "bg" for a press on the background, or "close" for
// closing the window. Prints one line per key event: "down VK" or "up VK".
#include <iostream>
#include <string>

#include "platform/control_ids.h"
#include "recording_platform.h"
#include "window/screen_keyboard.h"

int main() {
    using namespace vimbrel;
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform};
    keyboard.Form_Load();
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty() || line == "bg") continue;  // a drag sends no key
        if (line == "close") {
            keyboard.Form_Unload();
            continue;
        }
        const int id = std::stoi(line, nullptr, 16);
        if (!IsKeyControlId(id)) {
            std::cerr << "not a key: " << line << '\n';
            return 2;
        }
        keyboard.Click(KeyFromControlId(id));
    }
    for (const KeyEvent& e : platform.keys) std::cout << (e.up ? "up " : "down ") << e.vk << '\n';
    return 0;
}
