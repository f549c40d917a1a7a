// The ordinary keys: one stroke per click, and the focus highlight.
#include "input/key_events.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

void ScreenKeyboard::SKB_Click(int index) { KeyStroke(platform_, index); }

void ScreenKeyboard::SKB_GotFocus(int index) { SetBackColour({Control::SKB, index}, kHighlight); }

void ScreenKeyboard::SKB_LostFocus(int index) { SetBackColour({Control::SKB, index}, kWhite); }

}  // namespace vimbrel
