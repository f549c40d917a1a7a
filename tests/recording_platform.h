// RecordingPlatform: a platform that remembers what the keyboard did to it.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vimbrel {

struct KeyEvent {
    int vk;
    bool up;
    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};
inline KeyEvent Down(int vk) { return {vk, false}; }
inline KeyEvent Up(int vk) { return {vk, true}; }

inline std::ostream& operator<<(std::ostream& os, const KeyEvent& e) {
    return os << (e.up ? "Up(" : "Down(") << e.vk << ")";
}

class RecordingPlatform : public Platform {
public:
    std::vector<KeyEvent> keys;
    std::vector<std::pair<KeyRef, KeyChange>> redrawnKeys;  // in the order asked
    std::vector<Light> redrawnLights;
    std::vector<KeyRef> focusCalls;
    std::vector<std::string> calls;  // window operations in order, by name
    std::vector<std::pair<std::u16string, std::u16string>> messages;
    std::vector<std::u16string> addresses;
    ScreenMetrics metrics{28800, 16200, 11130, 2985};
    float left = 0, top = 0;
    int menuChoice = -1;  // the row of the menu table chosen, -1 none

    void KeyDown(std::uint8_t vk) override { keys.push_back(Down(vk)); }
    void KeyUp(std::uint8_t vk) override { keys.push_back(Up(vk)); }
    void RedrawKey(KeyRef key, KeyChange what) override { redrawnKeys.emplace_back(key, what); }
    void RedrawLight(Light light) override { redrawnLights.push_back(light); }
    void Focus(KeyRef key) override { focusCalls.push_back(key); }
    void Show() override { calls.push_back("Show"); }
    void StayOnTop() override { calls.push_back("StayOnTop"); }
    void NeverActivate() override { calls.push_back("NeverActivate"); }
    ScreenMetrics Metrics() const override { return metrics; }
    void SetLeft(float twips) override {
        left = twips;
        calls.push_back("SetLeft");
    }
    void SetTop(float twips) override {
        top = twips;
        calls.push_back("SetTop");
    }
    void BeginMove() override { calls.push_back("BeginMove"); }
    void Minimise() override { calls.push_back("Minimise"); }
    int ShowPopupMenu() override {
        calls.push_back("ShowPopupMenu");
        return menuChoice;
    }
    void ShowMessage(std::u16string_view title, std::u16string_view text) override {
        messages.emplace_back(title, text);
    }
    void OpenAddress(std::u16string_view address) override {
        addresses.emplace_back(address);
        calls.push_back("OpenAddress");
    }
};

}  // namespace vimbrel
