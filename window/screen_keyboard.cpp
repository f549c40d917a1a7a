// ScreenKeyboard's window events: start-up, placement, drag and close, and the
// routing of control events to each control's handlers.
#include "window/screen_keyboard.h"

#include "captions/caption_tables.h"
#include "input/key_events.h"
#include "window/controls.h"
#include "window/messages.h"

namespace vimbrel {

namespace {
constexpr float kBottomMargin = 450;  // twips between the window and the screen's bottom
constexpr int kRightButton = 2;
}  // namespace

void ScreenKeyboard::Form_Load() {
    platform_.Show();
    小写字母();
    下档符号();
    数字小键盘();
    platform_.Focus({Control::数字锁});
    SetCaption({Control::SKB, 8}, kBackspaceCaption);
    platform_.StayOnTop();
    // Added only now, after the window was shown and given the focus, so that
    // it governs later clicks and does not deactivate the window at start.
    platform_.NeverActivate();
}

void ScreenKeyboard::Form_Paint() {
    platform_.StayOnTop();
    const ScreenMetrics m = platform_.Metrics();
    // Single precision, each half taken before the subtraction; never clamped.
    const float left = m.screenLeft + (m.screenWidth / 2.0f - m.windowWidth / 2.0f);
    const float top = m.screenTop + (m.screenHeight - m.windowHeight - kBottomMargin);
    platform_.SetLeft(left);
    platform_.SetTop(top);
}

void ScreenKeyboard::Form_MouseMove() { platform_.StayOnTop(); }

void ScreenKeyboard::Form_MouseDown(int button) {
    platform_.BeginMove();
    if (button != kRightButton) return;
    const int chosen = platform_.ShowPopupMenu();
    if (chosen >= 0 && chosen < static_cast<int>(kMenuItems.size()))
        (this->*kMenuItems[static_cast<std::size_t>(chosen)].handler)();
}

// A modifier still latched when the keyboard goes away would stay down for the
// whole desktop: release each one whose button is lit, and nothing else.
// Ctrl, Alt and the Windows keys go first and Shift last, as a person lets go.
void ScreenKeyboard::Form_Unload() {
    for (const Control c : {Control::控制, Control::转换, Control::徽标, Control::换档}) {
        for (const KeyDef& k : kKeys) {
            if (k.key.control == c && KeyHeld(c, states_.BackColour(k.key))) KeyRelease(platform_, k.key.index);
        }
    }
}

void ScreenKeyboard::SetBackColour(KeyRef key, Colour colour) {
    if (const KeyChange what = states_.SetBackColour(key, colour)) platform_.RedrawKey(key, what);
}

void ScreenKeyboard::SetCaption(KeyRef key, std::u16string_view text) {
    if (const KeyChange what = states_.SetCaption(key, text)) platform_.RedrawKey(key, what);
}

void ScreenKeyboard::SetLightColour(Light light, Colour colour) {
    if (states_.SetLightColour(light, colour)) platform_.RedrawLight(light);
}

// Each control's events go where its row of the control table sends them.
void ScreenKeyboard::Click(KeyRef key) {
    if (const ControlHandler h = ControlInfo(key.control).click) h(*this, key.index);
}

void ScreenKeyboard::GotFocus(KeyRef key) {
    if (const ControlHandler h = ControlInfo(key.control).gotFocus) h(*this, key.index);
}

void ScreenKeyboard::LostFocus(KeyRef key) {
    if (const ControlHandler h = ControlInfo(key.control).lostFocus) h(*this, key.index);
}

}  // namespace vimbrel
