// ScreenKeyboard's window events: start-up, placement, drag and close, and the
// routing of control events to each control's handlers.
#include "window/screen_keyboard.h"

#include <array>

#include "captions/caption_tables.h"
#include "input/key_events.h"

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
    platform_.SetCaption({Control::SKB, 8}, kBackspaceCaption);
    platform_.StayOnTop();
    // Added only now, after the window was shown and given the focus, so that
    // it governs later clicks and does not deactivate the window at start.
    platform_.AddNoActivateStyle();
}

void ScreenKeyboard::Form_Paint() {
    platform_.StayOnTop();
    const ScreenMetrics m = platform_.Metrics();
    // Single precision, each half taken before the subtraction; never clamped.
    const float left = m.screenWidth / 2.0f - m.windowWidth / 2.0f;
    const float top = m.screenHeight - m.windowHeight - kBottomMargin;
    platform_.SetLeft(left);
    platform_.SetTop(top);
}

void ScreenKeyboard::Form_MouseMove() { platform_.StayOnTop(); }

void ScreenKeyboard::Form_MouseDown(int button) {
    platform_.BeginSystemMove();
    if (button != kRightButton) return;
    switch (platform_.ShowPopupMenu()) {
    case MenuItem::MnuAbout: MnuAbout_Click(); break;
    case MenuItem::MnuEdition: MnuEdition_Click(); break;
    case MenuItem::MnuProgramme: MnuProgramme_Click(); break;
    case MenuItem::MnuAuthor: MnuAuthor_Click(); break;
    case MenuItem::None: break;
    }
}

// A modifier still latched when the keyboard goes away would stay down for the
// whole desktop: release each one whose button is lit, and nothing else.
void ScreenKeyboard::Form_Unload() {
    static constexpr std::array<KeyRef, 8> kModifiers = {{
        {Control::控制, 162}, {Control::控制, 163}, {Control::转换, 164}, {Control::转换, 165},
        {Control::徽标, 91},  {Control::徽标, 92},  {Control::换档, 160}, {Control::换档, 161},
    }};
    for (const KeyRef key : kModifiers) {
        if (platform_.BackColour(key) == kHighlight) KeyRelease(platform_, key.index);
    }
}

void ScreenKeyboard::Click(KeyRef key) {
    switch (key.control) {
    case Control::SKB: SKB_Click(key.index); break;
    case Control::小键盘: 小键盘_Click(key.index); break;
    case Control::小回车: 小回车_Click(); break;
    case Control::快捷菜单: 快捷菜单_Click(); break;
    case Control::徽标: 徽标_Click(key.index); break;
    case Control::转换: 转换_Click(key.index); break;
    case Control::控制: 控制_Click(key.index); break;
    case Control::换档: 换档_Click(key.index); break;
    case Control::大写锁: 大写锁_Click(); break;
    case Control::数字锁: 数字锁_Click(); break;
    case Control::卷轴锁: 卷轴锁_Click(); break;
    }
}

// Lock and modifier buttons have no focus handlers: their colour is their state.
void ScreenKeyboard::GotFocus(KeyRef key) {
    switch (key.control) {
    case Control::SKB: SKB_GotFocus(key.index); break;
    case Control::小键盘: 小键盘_GotFocus(key.index); break;
    case Control::小回车: 小回车_GotFocus(); break;
    case Control::快捷菜单: 快捷菜单_GotFocus(); break;
    default: break;
    }
}

void ScreenKeyboard::LostFocus(KeyRef key) {
    switch (key.control) {
    case Control::SKB: SKB_LostFocus(key.index); break;
    case Control::小键盘: 小键盘_LostFocus(key.index); break;
    case Control::小回车: 小回车_LostFocus(); break;
    case Control::快捷菜单: 快捷菜单_LostFocus(); break;
    default: break;
    }
}

}  // namespace vimbrel
