// The handlers of the keyboard on the recording platform: key events, colours, captions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "captions/caption_tables.h"
#include "layout/key_table.h"
#include "recording_platform.h"
#include "window/controls.h"
#include "window/messages.h"
#include "window/screen_keyboard.h"

namespace vimbrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr KeyRef kLeftShift{Control::换档, 160};
constexpr KeyRef kRightShift{Control::换档, 161};

class KeyboardTest : public ::testing::Test {
protected:
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform};
    void SetUp() override {
        keyboard.Form_Load();
        platform.keys.clear();
        platform.calls.clear();
        platform.redrawnKeys.clear();
        platform.redrawnLights.clear();
    }
    std::u16string Caption(Control c, int index) const { return std::u16string(keyboard.States().Caption({c, index})); }
    // Which letter set is on the keys: 'A' capitals emphasised, 'a' small letters.
    char Letters() const {
        const std::u16string a = Caption(Control::SKB, 'A');
        if (a == u"\uFF21\na") return 'A';
        if (a == u"A\n\uFF41") return 'a';
        return '?';
    }
    // Which keypad set: '9' digits emphasised (full width), 'c' cursor functions.
    char Keypad() const {
        const std::u16string k = Caption(Control::小键盘, 96);
        if (k == u"\uFF10\n插") return '9';
        if (k == u"0\n插") return 'c';
        return '?';
    }
    // Which symbol set: '!' shifted symbols emphasised, '1' unshifted.
    char Symbols() const {
        const std::u16string k = Caption(Control::SKB, '1');
        if (k == u"\uFF01\n1") return '!';
        if (k == u"!\n\uFF11") return '1';
        return '?';
    }
    Colour Back(KeyRef key) const { return keyboard.States().BackColour(key); }
    Colour Lit(Light light) const { return keyboard.States().LightColour(light); }
    std::vector<std::u16string> Captions() const {
        std::vector<std::u16string> all;
        for (std::size_t row = 0; row < kKeys.size(); ++row) all.push_back(keyboard.States().Key(row).caption);
        return all;
    }
    // Every key's colour and caption, then the lights' colours.
    std::pair<std::vector<KeyState>, std::vector<Colour>> Everything() const {
        std::pair<std::vector<KeyState>, std::vector<Colour>> all;
        for (std::size_t row = 0; row < kKeys.size(); ++row) all.first.push_back(keyboard.States().Key(row));
        for (Light l : {Light::数字灯, Light::大写灯, Light::卷轴灯}) all.second.push_back(Lit(l));
        return all;
    }
};

// ---- start-up ----

TEST(StartUp, ShowsThenCaptionsFocusesAndOnlyThenStopsActivating) {
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform};
    keyboard.Form_Load();
    EXPECT_THAT(platform.calls, ElementsAre("Show", "StayOnTop", "NeverActivate"));
    EXPECT_THAT(platform.focusCalls, ElementsAre(KeyRef{Control::数字锁}));
    EXPECT_EQ(keyboard.States().Caption({Control::SKB, 8}), u"退格\n\u2190");
    EXPECT_THAT(platform.keys, IsEmpty());
}

TEST_F(KeyboardTest, StartsWithSmallLettersUnshiftedSymbolsAndKeypadDigits) {
    EXPECT_EQ(Letters(), 'a');
    EXPECT_EQ(Symbols(), '1');
    EXPECT_EQ(Keypad(), '9');
    // Every letter, symbol and keypad key was re-captioned from its one-line design caption.
    for (const KeyDef& k : kKeys) {
        const bool recaptioned = (k.key.control == Control::SKB &&
                                  ((k.key.index >= 'A' && k.key.index <= 'Z') || (k.key.index >= '0' && k.key.index <= '9') ||
                                   (k.key.index >= 186 && k.key.index <= 192) || (k.key.index >= 219 && k.key.index <= 222) ||
                                   k.key.index == 8)) ||
                                 k.key.control == Control::小键盘;
        SCOPED_TRACE(k.key.index);
        EXPECT_EQ(keyboard.States().Caption(k.key) != k.caption, recaptioned);
    }
}

// ---- placement ----

TEST_F(KeyboardTest, PaintPutsTheWindowAtBottomCentreAfterReassertingTopmost) {
    platform.metrics = {28800, 16200, 11130, 2985};  // 1920 x 1080 px at 96 dpi
    keyboard.Form_Paint();
    EXPECT_THAT(platform.calls, ElementsAre("StayOnTop", "SetLeft", "SetTop"));
    EXPECT_FLOAT_EQ(platform.left, 14400 - 5565);
    EXPECT_FLOAT_EQ(platform.top, 16200 - 2985 - 450);
    platform.metrics.screenLeft = 28800;  // the primary monitor right of another
    platform.metrics.screenTop = 1200;
    keyboard.Form_Paint();
    EXPECT_FLOAT_EQ(platform.left, 28800 + 14400 - 5565);
    EXPECT_FLOAT_EQ(platform.top, 1200 + 16200 - 2985 - 450);
}

TEST_F(KeyboardTest, PlacementIsNotClampedToTheScreen) {
    platform.metrics = {9600, 7200, 11130, 8000};  // a screen smaller than the window
    keyboard.Form_Paint();
    EXPECT_FLOAT_EQ(platform.left, 4800 - 5565);
    EXPECT_FLOAT_EQ(platform.top, 7200 - 8000 - 450);
    platform.metrics = {20000, 10000, 10000, 1000};  // half as wide as the screen
    keyboard.Form_Paint();
    EXPECT_FLOAT_EQ(platform.left, 5000);
}

TEST_F(KeyboardTest, MouseMoveOnlyReassertsTopmost) {
    keyboard.Form_MouseMove();
    EXPECT_THAT(platform.calls, ElementsAre("StayOnTop"));
}

// ---- drag and menu ----

TEST_F(KeyboardTest, LeftAndMiddlePressesOnlyMoveTheWindow) {
    keyboard.Form_MouseDown(1);
    keyboard.Form_MouseDown(4);
    EXPECT_THAT(platform.calls, ElementsAre("BeginMove", "BeginMove"));
}

TEST_F(KeyboardTest, RightPressMovesFirstThenOpensTheMenu) {
    keyboard.Form_MouseDown(2);
    EXPECT_THAT(platform.calls, ElementsAre("BeginMove", "ShowPopupMenu"));
    EXPECT_THAT(platform.messages, IsEmpty());
}

TEST_F(KeyboardTest, ChosenMenuItemRunsItsCommand) {
    platform.menuChoice = 1;  // 版本信息
    keyboard.Form_MouseDown(2);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, kEditionTitle);
    EXPECT_EQ(platform.messages[0].second, kEditionText);
}

// ---- ordinary keys ----

TEST_F(KeyboardTest, EveryOrdinaryKeySendsExactlyPressThenReleaseOfItsCode) {
    for (const KeyDef& k : kKeys) {
        if (k.key.control != Control::SKB) continue;
        SCOPED_TRACE(k.key.index);
        platform.keys.clear();
        keyboard.Click(k.key);
        EXPECT_THAT(platform.keys, ElementsAre(Down(k.key.index), Up(k.key.index)));
    }
}

TEST_F(KeyboardTest, OrdinaryClickChangesNoColourOrCaption) {
    const auto before = Everything();
    keyboard.Click({Control::SKB, 'Q'});
    EXPECT_EQ(Everything(), before);
    EXPECT_THAT(platform.redrawnKeys, IsEmpty());
}

TEST_F(KeyboardTest, FocusLightsAKeyAndLosingItTurnsItWhite) {
    const KeyRef q{Control::SKB, 'Q'}, w{Control::SKB, 'W'};
    keyboard.GotFocus(q);
    EXPECT_EQ(Back(q), kHighlight);
    keyboard.LostFocus(q);
    keyboard.GotFocus(w);
    EXPECT_EQ(Back(q), kWhite);
    EXPECT_EQ(Back(w), kHighlight);
}

TEST_F(KeyboardTest, LockAndModifierButtonsIgnoreFocus) {
    for (KeyRef key : {KeyRef{Control::大写锁}, KeyRef{Control::数字锁}, kLeftShift, KeyRef{Control::控制, 162}}) {
        const Colour before = Back(key);
        keyboard.GotFocus(key);
        keyboard.LostFocus(key);
        EXPECT_EQ(Back(key), before);
    }
}

// The front end draws from the table: it hears of each change once, and of a
// lock or latch going on or off, which screen readers are told of.
TEST_F(KeyboardTest, TellsTheFrontEndWhatChanged) {
    keyboard.GotFocus({Control::SKB, 'Q'});
    keyboard.Click({Control::数字锁});
    ASSERT_EQ(platform.redrawnKeys.size(), 2u + kCursorKeypad.size());
    EXPECT_EQ(platform.redrawnKeys[0], std::pair(KeyRef{Control::SKB, 'Q'}, KeyChange{.colour = true}));
    EXPECT_EQ(platform.redrawnKeys[1], std::pair(KeyRef{Control::数字锁}, KeyChange{.colour = true, .on = true}));
    EXPECT_EQ(platform.redrawnKeys[2], std::pair(KeyRef{Control::小键盘, 96}, KeyChange{.caption = true}));
    EXPECT_THAT(platform.redrawnLights, ElementsAre(Light::数字灯));
}

// ---- lock keys ----

// Only Num Lock is on at start, button and light alike; every other lock and
// every modifier starts released blue, so that its first click does what the
// lights and captions promise.
TEST_F(KeyboardTest, StartsWithOnlyNumLockOnAndLit) {
    EXPECT_EQ(Lit(Light::数字灯), kHighlight);
    EXPECT_EQ(Lit(Light::大写灯), kReleasedBlue);
    EXPECT_EQ(Lit(Light::卷轴灯), kReleasedBlue);
    EXPECT_EQ(Back({Control::数字锁}), kHighlight);
    for (const KeyDef& k : kKeys) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(k.key.control) << " " << k.key.index);
        EXPECT_EQ(KeyHeld(k.key.control, Back(k.key)), k.key.control == Control::数字锁);
    }
    EXPECT_EQ(Back({Control::快捷菜单}), kSilver);
}

TEST_F(KeyboardTest, FirstLockClicksTurnCapsAndScrollOnAndNumOff) {
    keyboard.Click({Control::大写锁});
    keyboard.Click({Control::卷轴锁});
    keyboard.Click({Control::数字锁});
    EXPECT_THAT(platform.keys, ElementsAre(Down(20), Up(20), Down(145), Up(145), Down(144), Up(144)));
    EXPECT_EQ(Back({Control::大写锁}), kHighlight);
    EXPECT_EQ(Lit(Light::大写灯), kHighlight);
    EXPECT_EQ(Lit(Light::卷轴灯), kHighlight);
    EXPECT_EQ(Back({Control::数字锁}), kReleasedBlue);
    EXPECT_EQ(Lit(Light::数字灯), kReleasedBlue);
    EXPECT_EQ(Letters(), 'A');
    EXPECT_EQ(Keypad(), 'c');
}

TEST_F(KeyboardTest, TwoLockClicksReturnButtonLightAndCaptionsToWhereTheyWere) {
    struct Lock {
        Control button;
        Light light;
        int vk;
    };
    for (const Lock lock : {Lock{Control::大写锁, Light::大写灯, 20}, Lock{Control::数字锁, Light::数字灯, 144},
                            Lock{Control::卷轴锁, Light::卷轴灯, 145}}) {
        for (bool shift : {false, true}) {
            SCOPED_TRACE(testing::Message() << lock.vk << (shift ? " with Shift" : ""));
            if (shift) keyboard.Click(kRightShift);
            const auto before = Everything();
            platform.keys.clear();
            keyboard.Click({lock.button});
            keyboard.Click({lock.button});
            EXPECT_THAT(platform.keys, ElementsAre(Down(lock.vk), Up(lock.vk), Down(lock.vk), Up(lock.vk)));
            EXPECT_EQ(Everything(), before);
            if (shift) keyboard.Click(kRightShift);
        }
    }
}

// The system's lock state, where the front end reports it: shown as a click would
// show it, without a key sent; a click then only sends its stroke, and what is
// shown changes when the system says so.
TEST_F(KeyboardTest, SystemLocksAreShownAndClicksOnlySendTheirStroke) {
    keyboard.SystemLocks(true, false, false);  // Caps Lock on, Num Lock off, as X may start
    EXPECT_THAT(platform.keys, IsEmpty());
    EXPECT_EQ(Lit(Light::大写灯), kHighlight);
    EXPECT_EQ(Lit(Light::数字灯), kReleasedBlue);
    EXPECT_EQ(Letters(), 'A');
    EXPECT_EQ(Keypad(), 'c');
    const auto before = Everything();
    keyboard.Click({Control::数字锁});
    EXPECT_THAT(platform.keys, ElementsAre(Down(144), Up(144)));
    EXPECT_EQ(Everything(), before);
    keyboard.Click({Control::小键盘, 103});  // the system applies its Num Lock to the keypad's own code
    keyboard.SystemLocks(true, true, false);
    EXPECT_EQ(Back({Control::数字锁}), kHighlight);
    EXPECT_EQ(Keypad(), '9');
    EXPECT_THAT(platform.keys, ElementsAre(Down(144), Up(144), Down(103), Up(103)));
}

// A key held on the physical keyboard rings, and only that changes: a latched
// Shift held physically stays latched after it is let go.
TEST_F(KeyboardTest, PhysicalKeyRingsWithoutChangingAnythingElse) {
    keyboard.Click(kLeftShift);
    const auto latched = Everything();
    platform.redrawnKeys.clear();
    keyboard.PhysicalKey(kLeftShift, true);
    keyboard.PhysicalKey(kLeftShift, true);  // auto-repeat: one steady ring
    EXPECT_TRUE(keyboard.States().Key(static_cast<std::size_t>(KeyRow(kLeftShift))).held);
    keyboard.PhysicalKey(kLeftShift, false);
    EXPECT_THAT(platform.redrawnKeys, ElementsAre(std::pair{kLeftShift, KeyChange{.held = true}},
                                                  std::pair{kLeftShift, KeyChange{.held = true}}));
    EXPECT_EQ(Everything(), latched);
    EXPECT_THAT(platform.keys, ElementsAre(Down(160)));
}

TEST_F(KeyboardTest, ScrollLockTouchesNoCaption) {
    const auto captions = Captions();
    keyboard.Click({Control::卷轴锁});
    EXPECT_EQ(Captions(), captions);
}

// Caps Lock state x Shift latched (left or right) -> letter set after the Caps Lock click.
struct CapsCase {
    bool capsOnBefore;
    int shift;  // 0: none, else the Shift held
    char letters;
};
class CapsLockLetters : public KeyboardTest, public ::testing::WithParamInterface<CapsCase> {};

TEST_P(CapsLockLetters, ShiftInvertsCapsLock) {
    const CapsCase c = GetParam();
    if (c.capsOnBefore) keyboard.Click({Control::大写锁});
    if (c.shift) keyboard.Click({Control::换档, c.shift});
    keyboard.Click({Control::大写锁});
    EXPECT_EQ(Letters(), c.letters);
}
INSTANTIATE_TEST_SUITE_P(KeyboardTest, CapsLockLetters,
                         ::testing::Values(CapsCase{false, 0, 'A'}, CapsCase{false, 160, 'a'},
                                           CapsCase{false, 161, 'a'}, CapsCase{true, 0, 'a'},
                                           CapsCase{true, 160, 'A'}, CapsCase{true, 161, 'A'}));

TEST_F(KeyboardTest, NumLockOffAlwaysShowsTheCursorKeypad) {
    keyboard.Click(kLeftShift);
    keyboard.Click({Control::数字锁});  // off, Shift held
    EXPECT_EQ(Keypad(), 'c');
    keyboard.Click(kLeftShift);  // Shift up with Num Lock off
    EXPECT_EQ(Keypad(), 'c');
    keyboard.Click({Control::数字锁});  // on, no Shift
    EXPECT_EQ(Keypad(), '9');
    keyboard.Click({Control::数字锁});  // off, no Shift
    EXPECT_EQ(Keypad(), 'c');
}

TEST_F(KeyboardTest, NumLockOnWithShiftHeldKeepsTheCursorKeypad) {
    keyboard.Click({Control::数字锁});
    keyboard.Click(kRightShift);
    keyboard.Click({Control::数字锁});
    EXPECT_EQ(Keypad(), 'c');
    keyboard.Click(kRightShift);
    EXPECT_EQ(Keypad(), '9');
}

// A button in a colour other than released blue counts as on: its click turns it off.
TEST(LockKeys, ReadTheirDesignColoursAsOn) {
    ControlStates designed;
    designed.SetBackColour({Control::大写锁}, kSilver);
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform, designed};
    keyboard.Form_Load();
    keyboard.Click({Control::大写锁});
    EXPECT_EQ(keyboard.States().BackColour({Control::大写锁}), kReleasedBlue);
    EXPECT_EQ(keyboard.States().LightColour(Light::大写灯), kReleasedBlue);
    EXPECT_EQ(keyboard.States().Caption({Control::SKB, 'A'}), u"A\n\uFF41");
}

// ---- modifier keys ----

TEST_F(KeyboardTest, LatchedCtrlCombinesWithTheNextKey) {
    keyboard.Click({Control::控制, 162});
    EXPECT_EQ(Back({Control::控制, 162}), kHighlight);
    keyboard.Click({Control::SKB, 'C'});
    EXPECT_EQ(Back({Control::控制, 162}), kHighlight);
    keyboard.Click({Control::控制, 162});
    EXPECT_THAT(platform.keys, ElementsAre(Down(162), Down('C'), Up('C'), Up(162)));
    EXPECT_EQ(Back({Control::控制, 162}), kReleasedBlue);
}

TEST_F(KeyboardTest, EveryModifierPressesOnFirstClickAndReleasesOnSecond) {
    for (KeyRef key : {KeyRef{Control::控制, 162}, KeyRef{Control::控制, 163}, KeyRef{Control::转换, 164},
                       KeyRef{Control::转换, 165}, KeyRef{Control::徽标, 91}, KeyRef{Control::徽标, 92}, kLeftShift,
                       kRightShift}) {
        SCOPED_TRACE(key.index);
        platform.keys.clear();
        keyboard.Click(key);
        EXPECT_THAT(platform.keys, ElementsAre(Down(key.index)));
        keyboard.Click(key);
        EXPECT_THAT(platform.keys, ElementsAre(Down(key.index), Up(key.index)));
    }
}

TEST_F(KeyboardTest, ModifiersOtherThanShiftLeaveCaptionsAlone) {
    const auto captions = Captions();
    for (KeyRef key : {KeyRef{Control::控制, 163}, KeyRef{Control::转换, 164}, KeyRef{Control::徽标, 92}})
        keyboard.Click(key);
    EXPECT_EQ(Captions(), captions);
}

TEST_F(KeyboardTest, ShiftSwitchesSymbolsLettersAndKeypad) {
    keyboard.Click(kLeftShift);
    EXPECT_EQ(Symbols(), '!');
    EXPECT_EQ(Letters(), 'A');
    EXPECT_EQ(Keypad(), 'c');
    keyboard.Click(kLeftShift);
    EXPECT_EQ(Symbols(), '1');
    EXPECT_EQ(Letters(), 'a');
    EXPECT_EQ(Keypad(), '9');
}

TEST_F(KeyboardTest, ShiftWithCapsLockOnShowsSmallLetters) {
    keyboard.Click({Control::大写锁});
    keyboard.Click(kRightShift);
    EXPECT_EQ(Letters(), 'a');
    keyboard.Click(kRightShift);
    EXPECT_EQ(Letters(), 'A');
}

TEST_F(KeyboardTest, ReleasingOneOfTwoShiftsGoesByTheLightsAlone) {
    keyboard.Click(kLeftShift);
    keyboard.Click(kRightShift);
    platform.keys.clear();
    keyboard.Click(kLeftShift);
    EXPECT_THAT(platform.keys, ElementsAre(Up(160)));
    EXPECT_EQ(Back(kRightShift), kHighlight);
    EXPECT_EQ(Symbols(), '1');
    EXPECT_EQ(Letters(), 'a');
    EXPECT_EQ(Keypad(), '9');
    // Caps Lock still sees the right Shift held.
    keyboard.Click({Control::大写锁});
    EXPECT_EQ(Letters(), 'a');
}

// ---- keypad, keypad Enter, Applications key ----

TEST_F(KeyboardTest, KeypadSendsItsOwnCodeWhileNumLockIsLit) {
    for (int vk : {96, 97, 101, 105, 110}) {
        platform.keys.clear();
        keyboard.Click({Control::小键盘, vk});
        EXPECT_THAT(platform.keys, ElementsAre(Down(vk), Up(vk)));
    }
    keyboard.Click(kLeftShift);  // Shift is not consulted
    platform.keys.clear();
    keyboard.Click({Control::小键盘, 97});
    EXPECT_THAT(platform.keys, ElementsAre(Down(97), Up(97)));
}

TEST_F(KeyboardTest, KeypadSendsEditingKeysWhileNumLockIsOff) {
    keyboard.Click({Control::数字锁});
    const std::pair<int, int> cases[] = {{96, 45}, {97, 35}, {98, 40}, {99, 34}, {100, 37}, {102, 39},
                                         {103, 36}, {104, 38}, {105, 33}, {110, 46}};
    for (auto [keypad, editing] : cases) {
        SCOPED_TRACE(keypad);
        platform.keys.clear();
        keyboard.Click({Control::小键盘, keypad});
        EXPECT_THAT(platform.keys, ElementsAre(Down(editing), Up(editing)));
    }
}

TEST_F(KeyboardTest, KeypadFiveWithNumLockOffSendsNothingYetTakesTheHighlight) {
    keyboard.Click({Control::数字锁});
    platform.keys.clear();
    keyboard.GotFocus({Control::小键盘, 101});
    keyboard.Click({Control::小键盘, 101});
    EXPECT_THAT(platform.keys, IsEmpty());
    EXPECT_EQ(Back({Control::小键盘, 101}), kHighlight);
    keyboard.LostFocus({Control::小键盘, 101});
    EXPECT_EQ(Back({Control::小键盘, 101}), kWhite);
}

TEST_F(KeyboardTest, KeypadEnterAndTheApplicationsKeySendTheirCodes) {
    keyboard.Click({Control::小回车});
    keyboard.Click({Control::快捷菜单});
    EXPECT_THAT(platform.keys, ElementsAre(Down(13), Up(13), Down(93), Up(93)));
}

TEST_F(KeyboardTest, ApplicationsKeyTurnsReleasedBlueOnceItLosesTheFocus) {
    keyboard.GotFocus({Control::快捷菜单});
    EXPECT_EQ(Back({Control::快捷菜单}), kHighlight);
    keyboard.LostFocus({Control::快捷菜单});
    EXPECT_EQ(Back({Control::快捷菜单}), kReleasedBlue);
    keyboard.GotFocus({Control::小回车});
    EXPECT_EQ(Back({Control::小回车}), kHighlight);
    keyboard.LostFocus({Control::小回车});
    EXPECT_EQ(Back({Control::小回车}), kWhite);
}

// ---- closing ----

TEST_F(KeyboardTest, ClosingReleasesEveryLatchedModifierAndNothingElse) {
    keyboard.Click({Control::控制, 162});
    keyboard.Click({Control::转换, 165});
    keyboard.Click(kRightShift);
    keyboard.Click({Control::徽标, 91});
    keyboard.Click({Control::徽标, 91});  // released again: not sent twice
    keyboard.Click({Control::大写锁});     // locks stay as they are
    platform.keys.clear();
    keyboard.Form_Unload();
    EXPECT_THAT(platform.keys, ElementsAre(Up(162), Up(165), Up(161)));
}

TEST_F(KeyboardTest, ClosingWithNothingLatchedSendsNothing) {
    keyboard.Form_Unload();
    EXPECT_THAT(platform.keys, IsEmpty());
}

}  // namespace
}  // namespace vimbrel
