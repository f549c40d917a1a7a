// The texts of the window: title, menu and the information messages.
#pragma once

#include <array>
#include <string_view>

#include "version.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// The product name and its version text, without a blank between them.
inline constexpr std::u16string_view kWindowTitle = u"Vimbrel" VIMBREL_VERSION_TEXT;

// The maker's web site. A reserved example domain: no real third party is named or opened.
inline constexpr std::u16string_view kMakerHost = u"vimbrel.example.org";
// Served over https: an executable fetched over plain http could be swapped in transit.
inline constexpr std::u16string_view kDownloadAddress = u"https://vimbrel.example.org/pelorin.exe";

// The pop-up menu, in the order it shows its items. A front end builds its
// menu from this table and reports the row chosen; the window runs its handler.
struct MenuItemDef {
    std::u16string_view name;
    std::u16string_view caption;
    void (ScreenKeyboard::*handler)();
};
inline constexpr std::u16string_view kMenuRootCaption = u"快捷菜单";
// clang-format off
inline constexpr std::array<MenuItemDef, 4> kMenuItems = {{
    {u"MnuAbout",     u"关于软件", &ScreenKeyboard::MnuAbout_Click},
    {u"MnuEdition",   u"版本信息", &ScreenKeyboard::MnuEdition_Click},
    {u"MnuProgramme", u"编程语言", &ScreenKeyboard::MnuProgramme_Click},
    {u"MnuAuthor",    u"最新版本", &ScreenKeyboard::MnuAuthor_Click},
}};
// clang-format on
inline constexpr int kDefaultMenuItem = 0;  // 关于软件, shown in bold

inline constexpr std::u16string_view kAboutTitle = u"Vimbrelvimbrel.example.org";
// Five lines joined by single line feeds; the fourth line is two sentences run together.
inline constexpr std::u16string_view kAboutText =
    u"1\uFF0E气球提示\uFF1A鼠标指针指向某个键，停留片该，将会显示该键的英文全称或中文全称。\n"
    u"2\uFF0E指法提示\uFF1A鼠标指针的形状在每个键上都根据相应指法发生变化。\n"
    u"3\uFF0E高亮提示\uFF1A按下某个键时，该键会变得高亮；如果按下的是开关键，相应的指示灯也会变得高亮。\n"
    u"4\uFF0E换档提示\uFF1A当按下 Caps Lock 、Shift 、Num Lock 键时，相应的，大写字母、上档符号、小键盘数字会突出显示；"
    u"反之， 当弹起 Caps Lock 、Shift 、Num Lock 键时，相应的，小写字母、下档符号、小键盘光标键会突出显示。\n"
    u"5\uFF0E随手移动\uFF1A在键盘背景处用鼠标拖动，可移动键盘。";

inline constexpr std::u16string_view kEditionTitle = u"版本信息";
inline constexpr std::u16string_view kEditionText =
    u"Vimbrel\n版本：" VIMBREL_VERSION_TEXT u"\n2013年11月12日13时14分15秒";

inline constexpr std::u16string_view kProgrammeTitle = u"编程语言";
inline constexpr std::u16string_view kProgrammeText =
    u"C++20，mingw-w64 GCC 交叉编译为 32 位 Win32 程序，CMake 构建";

}  // namespace vimbrel
