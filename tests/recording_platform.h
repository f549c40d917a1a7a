// RecordingPlatform: a platform that remembers what the keyboard did to it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "window/controls.h"

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
    std::map<KeyRef, std::u16string> captions;
    std::map<KeyRef, Colour> colours;  // keys never written read as their start colour
    std::map<Light, Colour> lights{{Light::数字灯, kHighlight},
                                   {Light::大写灯, kReleasedBlue},
                                   {Light::卷轴灯, kReleasedBlue}};
    std::vector<KeyRef> focusCalls;
    std::vector<std::string> calls;  // window operations in order, by name
    std::vector<std::pair<std::u16string, std::u16string>> messages;
    std::vector<std::u16string> addresses;
    ScreenMetrics metrics{28800, 16200, 11130, 2985};
    float left = 0, top = 0;
    int menuChoice = -1;  // the row of the menu table chosen, -1 none

    void KeyDown(std::uint8_t vk) override { keys.push_back(Down(vk)); }
    void KeyUp(std::uint8_t vk) override { keys.push_back(Up(vk)); }
    void SetCaption(KeyRef key, std::u16string_view text) override {
        captions[key] = std::u16string(text);
        ++captionWrites;
    }
    Colour BackColour(KeyRef key) const override {
        auto it = colours.find(key);
        return it == colours.end() ? StartColour(key.control) : it->second;
    }
    void SetBackColour(KeyRef key, Colour colour) override { colours[key] = colour; }
    void Focus(KeyRef key) override { focusCalls.push_back(key); }
    Colour LightColour(Light light) const override { return lights.at(light); }
    void SetLightColour(Light light, Colour colour) override { lights[light] = colour; }
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

    int captionWrites = 0;
    std::u16string Caption(KeyRef key) const {
        auto it = captions.find(key);
        return it == captions.end() ? std::u16string() : it->second;
    }
};

}  // namespace vimbrel
