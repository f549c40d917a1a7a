// ScreenKeyboard: the keyboard window's behaviour, independent of the window system.
// Each member is defined in the folder of its subsystem.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "captions/caption_row.h"
#include "layout/key_ref.h"
#include "platform/platform.h"
#include "window/control_states.h"

namespace vimbrel {

class ScreenKeyboard {
public:
    // Starts from the designed start unless given another state to start from.
    explicit ScreenKeyboard(Platform& platform, ControlStates states = {})
        : platform_(platform), states_(std::move(states)) {}

    // What every key and light shows now: the front end draws from it.
    const ControlStates& States() const { return states_; }

    // Window events (window/screen_keyboard.cpp).
    void Form_Load();
    void Form_Paint();
    void Form_MouseMove();
    void Form_MouseDown(int button);
    void Form_Unload();

    // Where the system keeps the lock state itself (a desktop with a physical
    // keyboard), the keyboard shows the system's: the front end calls this at
    // start and after every change, whoever made it. The keyboard then shows
    // each lock that changed exactly as a click on it would, without sending a
    // key, and a click on a lock key only sends its stroke: the system's change
    // comes back through here.
    void SystemLocks(bool capsLock, bool numLock, bool scrollLock);
    // A key of the physical keyboard went down or up: its key shows a ring
    // while it is down, nothing else changes.
    void PhysicalKey(KeyRef key, bool down);

    // Routing of control events to the handlers of each control.
    void Click(KeyRef key);
    void GotFocus(KeyRef key);
    void LostFocus(KeyRef key);

    // Menu commands (window/menu_commands.cpp).
    void MnuAbout_Click();
    void MnuEdition_Click();
    void MnuProgramme_Click();
    void MnuAuthor_Click();

    // Ordinary keys (input/ordinary_keys.cpp).
    void SKB_Click(int index);
    void SKB_GotFocus(int index);
    void SKB_LostFocus(int index);

    // Lock keys (input/lock_keys.cpp).
    void 大写锁_Click();
    void 数字锁_Click();
    void 卷轴锁_Click();

    // Modifier keys (input/modifier_keys.cpp).
    void 控制_Click(int index);
    void 转换_Click(int index);
    void 徽标_Click(int index);
    void 换档_Click(int index);

    // Keypad, keypad Enter and the Applications key (input/keypad_keys.cpp).
    void 小键盘_Click(int index);
    void 小键盘_GotFocus(int index);
    void 小键盘_LostFocus(int index);
    void 小回车_Click();
    void 小回车_GotFocus();
    void 小回车_LostFocus();
    void 快捷菜单_Click();
    void 快捷菜单_GotFocus();
    void 快捷菜单_LostFocus();

    // Caption sets (captions/caption_sets.cpp): each rewrites one key group.
    void 大写字母();
    void 小写字母();
    void 上档符号();
    void 下档符号();
    void 数字小键盘();
    void 光标小键盘();
    // Sends the editing key that a keypad key stands for; nothing for keypad 5.
    void 小键盘光标(int index);

private:
    // Write the table and have the front end draw what changed.
    void SetBackColour(KeyRef key, Colour colour);
    void SetCaption(KeyRef key, std::u16string_view text);
    void SetLightColour(Light light, Colour colour);
    void ApplyCaptions(Control control, std::span<const CaptionRow> set);
    bool SwitchLock(Control button, Light light);  // flips button and light; returns on
    void SetLock(Control button, Light light, bool on);
    std::optional<bool> LockClick(Control button, Light light);
    void CapsLockCaptions(bool on);
    void NumLockCaptions(bool on);
    bool ShiftHeld() const;                        // either Shift button lit
    void LatchClick(KeyRef key);  // the shared press/release latch of the modifiers

    Platform& platform_;
    ControlStates states_;
    bool systemLocks_ = false;  // the lock state shown is the system's (SystemLocks)
};

}  // namespace vimbrel
