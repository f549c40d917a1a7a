// The 104 key buttons of the keyboard window: control and index, design caption, tooltip, place, focus order and finger.
#pragma once

#include <array>

#include "layout/key_def.h"

namespace vimbrel {

// The client area the keys fill exactly, to its left, right and bottom edges.
inline constexpr Twips kClientWidth = 11040;
inline constexpr Twips kClientHeight = 2640;
// Where the client area stands as designed, from the screen's top-left corner,
// until the first paint puts the window at the bottom centre.
inline constexpr Twips kDesignClientLeft = 3675;
inline constexpr Twips kDesignClientTop = 4485;

// One row per key, row by row from the function row down and left to right
// within a row. A control's id in the window is its row here. Captions and
// tooltips are kept to the code unit, odd spacing included: the captions pass
// through the button's access-key processing, so "&&" shows one "&".
// Columns: key, caption, tooltip, left, top, width, height, tab index, finger.
// clang-format off
inline constexpr std::array<KeyDef, 104> kKeys = {{
    // Top 0: Escape, F1 to F12 in groups of four, Print Screen, Scroll Lock, Pause.
    {{Control::SKB, 27},     u"取消",         u"Escape", 0, 0, 480, 408, 106, Finger::LeftLittle},
    {{Control::SKB, 112},    u"F1",           u"Function 1", 960, 0, 480, 408, 105, Finger::LeftRing},
    {{Control::SKB, 113},    u"F2",           u"Function 2", 1440, 0, 480, 408, 104, Finger::LeftMiddle},
    {{Control::SKB, 114},    u"F3",           u"Function 3", 1920, 0, 480, 408, 103, Finger::LeftIndex},
    {{Control::SKB, 115},    u"F4",           u"Function 4", 2400, 0, 480, 408, 102, Finger::LeftIndex},
    {{Control::SKB, 116},    u"F5",           u"Function 5", 3120, 0, 480, 408, 101, Finger::RightIndex},
    {{Control::SKB, 117},    u"F6",           u"Function 6", 3600, 0, 480, 408, 100, Finger::RightMiddle},
    {{Control::SKB, 118},    u"F7",           u"Function 7", 4080, 0, 480, 408, 99, Finger::RightRing},
    {{Control::SKB, 119},    u"F8",           u"Function 8", 4560, 0, 480, 408, 98, Finger::RightLittle},
    {{Control::SKB, 120},    u"F9",           u"Function 9", 5280, 0, 480, 408, 97, Finger::RightLittle},
    {{Control::SKB, 121},    u"F10",          u"Function 10", 5760, 0, 480, 408, 96, Finger::RightLittle},
    {{Control::SKB, 122},    u"F11",          u"Function 11", 6240, 0, 480, 408, 95, Finger::RightLittle},
    {{Control::SKB, 123},    u"F12",          u"Function 12", 6720, 0, 480, 408, 94, Finger::RightLittle},
    {{Control::SKB, 44},     u"快照需求",     u"Print Screen (复制屏幕) 或 System requirements (系统需求)", 7440, 0, 480, 408, 93, Finger::RightIndex},
    {{Control::卷轴锁, 0},   u"卷轴锁定",     u"Scroll Lock", 7920, 0, 480, 408, 92, Finger::RightMiddle},
    {{Control::SKB, 19},     u"暂停中止",     u"Pause 或 Break", 8400, 0, 480, 408, 91, Finger::RightRing},
    // Top 600: digit row, Backspace, Insert/Home/Page Up, Num Lock and the keypad operators.
    {{Control::SKB, 192},    u"~\uFF40",      u"Acute accent (重音符号)或 Tilde (代字符号) ", 0, 600, 480, 408, 87, Finger::LeftLittle},
    {{Control::SKB, 49},     u"!\uFF11",      u"1 或 Exclamation mark (感叹号)", 480, 600, 480, 408, 86, Finger::LeftLittle},
    {{Control::SKB, 50},     u"@\uFF12",      u"2 或 Commercial at (单价符号)", 960, 600, 480, 408, 85, Finger::LeftRing},
    {{Control::SKB, 51},     u"#\uFF13",      u"3 或 Number sign (号码符号)", 1440, 600, 480, 408, 84, Finger::LeftMiddle},
    {{Control::SKB, 52},     u"$\uFF14",      u"4 或 Dollar sign (美元符号)", 1920, 600, 480, 408, 83, Finger::LeftIndex},
    {{Control::SKB, 53},     u"%\uFF15",      u"5 或 Percent sign (百分号)", 2400, 600, 480, 408, 82, Finger::LeftIndex},
    {{Control::SKB, 54},     u"^\uFF16",      u"6 或 Caret (脱字符号)", 2880, 600, 480, 408, 81, Finger::RightIndex},
    {{Control::SKB, 55},     u"&&\uFF17",     u"7 或 Ampersand (与号)", 3360, 600, 480, 408, 80, Finger::RightIndex},
    {{Control::SKB, 56},     u"*\uFF18",      u"8 或 Asterisk (星号)", 3840, 600, 480, 408, 79, Finger::RightMiddle},
    {{Control::SKB, 57},     u"(\uFF19",      u"9 或 Left parenthesis (左圆括号)", 4320, 600, 480, 408, 78, Finger::RightRing},
    {{Control::SKB, 48},     u")\uFF10",      u"0 或 Right parenthesis (右圆括号)", 4800, 600, 480, 408, 77, Finger::RightLittle},
    {{Control::SKB, 189},    u"_\uFF0D",      u"Hyphen (连字符号) 或 Underscore (下划线)", 5280, 600, 480, 408, 76, Finger::RightLittle},
    {{Control::SKB, 187},    u"+\uFF1D",      u"Equals sign (等号) 或 Plus sign (加号)", 5760, 600, 480, 408, 75, Finger::RightLittle},
    {{Control::SKB, 8},      u"退格←",        u"BackSpace", 6240, 600, 960, 408, 74, Finger::RightLittle},
    {{Control::SKB, 45},     u"插入改写",     u"Insert 或 Overwrite", 7440, 600, 480, 408, 73, Finger::RightIndex},
    {{Control::SKB, 36},     u"开头",         u"Home", 7920, 600, 480, 408, 72, Finger::RightMiddle},
    {{Control::SKB, 33},     u"前页",         u"Page Up", 8400, 600, 480, 408, 71, Finger::RightRing},
    {{Control::数字锁, 0},   u"数字锁定",     u"Number Lock", 9120, 600, 480, 408, 70, Finger::RightIndex},
    {{Control::SKB, 111},    u"÷",            u"Is Divided By", 9600, 600, 480, 408, 69, Finger::RightMiddle},
    {{Control::SKB, 106},    u"×",            u"Is Multiplied By", 10080, 600, 480, 408, 68, Finger::RightRing},
    {{Control::SKB, 109},    u"-",            u"Minus", 10560, 600, 480, 408, 67, Finger::RightLittle},
    // Top 1008: Tab row, Delete/End/Page Down, keypad 7 to 9 and keypad add (two rows high).
    {{Control::SKB, 9},      u"制表符",       u"Tab", 0, 1008, 720, 408, 66, Finger::LeftLittle},
    {{Control::SKB, 81},     u"Q\uFF51",      u"q 或 Q", 720, 1008, 480, 408, 65, Finger::LeftLittle},
    {{Control::SKB, 87},     u"W\uFF57",      u"w 或 W", 1200, 1008, 480, 408, 64, Finger::LeftRing},
    {{Control::SKB, 69},     u"E\uFF45",      u"e 或 E", 1680, 1008, 480, 408, 63, Finger::LeftMiddle},
    {{Control::SKB, 82},     u"R\uFF52",      u"r 或 R", 2160, 1008, 480, 408, 62, Finger::LeftIndex},
    {{Control::SKB, 84},     u"T\uFF54",      u"t 或 T", 2640, 1008, 480, 408, 61, Finger::LeftIndex},
    {{Control::SKB, 89},     u"Y\uFF59",      u"y 或 Y", 3120, 1008, 480, 408, 60, Finger::RightIndex},
    {{Control::SKB, 85},     u"U\uFF55",      u"u 或 U", 3600, 1008, 480, 408, 59, Finger::RightIndex},
    {{Control::SKB, 73},     u"I\uFF49",      u"i 或 I", 4080, 1008, 480, 408, 58, Finger::RightMiddle},
    {{Control::SKB, 79},     u"O\uFF4F",      u"o 或 O", 4560, 1008, 480, 408, 57, Finger::RightRing},
    {{Control::SKB, 80},     u"P\uFF50",      u"p 或 P", 5040, 1008, 480, 408, 56, Finger::RightLittle},
    {{Control::SKB, 219},    u"{\uFF3B",      u"Left square bracket (左方括号) 或 Left curly brace (左花括号)", 5520, 1008, 480, 408, 55, Finger::RightLittle},
    {{Control::SKB, 221},    u"}\uFF3D",      u"Right square bracket (右方括号) 或 Right curly brace (或右花括号)", 6000, 1008, 480, 408, 54, Finger::RightLittle},
    {{Control::SKB, 220},    u"|\uFF3C",      u"Backslash (反斜杠) 或 Vertical bar (竖杠)", 6480, 1008, 720, 408, 53, Finger::RightLittle},
    {{Control::SKB, 46},     u"删除",         u"Delete", 7440, 1008, 480, 408, 52, Finger::RightIndex},
    {{Control::SKB, 35},     u"末尾",         u"End", 7920, 1008, 480, 408, 51, Finger::RightMiddle},
    {{Control::SKB, 34},     u"后页",         u"Page Down", 8400, 1008, 480, 408, 50, Finger::RightRing},
    {{Control::小键盘, 103}, u"\uFF17头",     u"7 或 Home", 9120, 1008, 480, 408, 49, Finger::RightIndex},
    {{Control::小键盘, 104}, u"\uFF18↑",      u"8 或 ↑", 9600, 1008, 480, 408, 48, Finger::RightMiddle},
    {{Control::小键盘, 105}, u"\uFF19前",     u"9 或 Page Up", 10080, 1008, 480, 408, 47, Finger::RightRing},
    {{Control::SKB, 107},    u"+",            u"Plus", 10560, 1008, 480, 816, 30, Finger::RightLittle},
    // Top 1416: Caps Lock row, Enter, keypad 4 to 6.
    {{Control::大写锁, 0},   u"大写锁定",     u"Capital Lock", 0, 1416, 840, 408, 46, Finger::LeftMiddle},
    {{Control::SKB, 65},     u"A\uFF41",      u"a 或 A", 840, 1416, 480, 408, 45, Finger::LeftLittle},
    {{Control::SKB, 83},     u"S\uFF53",      u"s 或 S", 1320, 1416, 480, 408, 44, Finger::LeftRing},
    {{Control::SKB, 68},     u"D\uFF44",      u"d 或 D", 1800, 1416, 480, 408, 43, Finger::LeftMiddle},
    {{Control::SKB, 70},     u"F\uFF46",      u"f 或 F", 2280, 1416, 480, 408, 42, Finger::LeftIndex},
    {{Control::SKB, 71},     u"G\uFF47",      u"g 或 G", 2760, 1416, 480, 408, 41, Finger::LeftIndex},
    {{Control::SKB, 72},     u"H\uFF48",      u"h 或 H", 3240, 1416, 480, 408, 40, Finger::RightIndex},
    {{Control::SKB, 74},     u"J\uFF4A",      u"j 或 J", 3720, 1416, 480, 408, 39, Finger::RightIndex},
    {{Control::SKB, 75},     u"K\uFF4B",      u"k 或 K", 4200, 1416, 480, 408, 38, Finger::RightMiddle},
    {{Control::SKB, 76},     u"L\uFF4C",      u"l 或 L", 4680, 1416, 480, 408, 37, Finger::RightRing},
    {{Control::SKB, 186},    u":\uFF1B",      u"Semicolon (分号) 或 Colon (冒号)", 5160, 1416, 480, 408, 36, Finger::RightLittle},
    {{Control::SKB, 222},    u"\"\uFF07",     u"Apostrophe (撇号) 或 Quotation mark (引号)", 5640, 1416, 480, 408, 35, Finger::RightLittle},
    {{Control::SKB, 13},     u"回车",         u"Enter", 6120, 1416, 1080, 408, 34, Finger::RightLittle},
    {{Control::小键盘, 100}, u"\uFF14←",      u"4 或 ←", 9120, 1416, 480, 408, 33, Finger::RightIndex},
    {{Control::小键盘, 101}, u"\uFF15\u3000", u"5  ", 9600, 1416, 480, 408, 32, Finger::RightMiddle},
    {{Control::小键盘, 102}, u"\uFF16→",      u"6 或 →", 10080, 1416, 480, 408, 31, Finger::RightRing},
    // Top 1824: Shift row, up arrow, keypad 1 to 3 and keypad Enter (two rows high).
    {{Control::换档, 160},   u"换档",         u"Shift", 0, 1824, 1080, 408, 29, Finger::LeftRing},
    {{Control::SKB, 90},     u"Z\uFF5A",      u"z 或 Z", 1080, 1824, 480, 408, 28, Finger::LeftLittle},
    {{Control::SKB, 88},     u"X\uFF58",      u"x 或 X", 1560, 1824, 480, 408, 27, Finger::LeftRing},
    {{Control::SKB, 67},     u"C\uFF43",      u"c 或 C", 2040, 1824, 480, 408, 26, Finger::LeftMiddle},
    {{Control::SKB, 86},     u"V\uFF56",      u"v 或 V", 2520, 1824, 480, 408, 25, Finger::LeftIndex},
    {{Control::SKB, 66},     u"B\uFF42",      u"b 或 B", 3000, 1824, 480, 408, 24, Finger::LeftIndex},
    {{Control::SKB, 78},     u"N\uFF4E",      u"n 或 N", 3480, 1824, 480, 408, 23, Finger::RightIndex},
    {{Control::SKB, 77},     u"M\uFF4D",      u"m 或 M", 3960, 1824, 480, 408, 22, Finger::RightIndex},
    {{Control::SKB, 188},    u"<\uFF0C",      u"Comma (逗号) 或 Less than (小于号)", 4440, 1824, 480, 408, 21, Finger::RightMiddle},
    {{Control::SKB, 190},    u">\uFF0E",      u"Period (句点) 或 Greater than (大于号)", 4920, 1824, 480, 408, 20, Finger::RightRing},
    {{Control::SKB, 191},    u"?\uFF0F",      u"Solidus (斜线) 或 Question mark (问号)", 5400, 1824, 480, 408, 19, Finger::RightLittle},
    {{Control::换档, 161},   u"换档",         u"Shift", 5880, 1824, 1320, 408, 18, Finger::RightRing},
    {{Control::SKB, 38},     u"↑",            u"Up Arrow", 7920, 1824, 480, 408, 17, Finger::RightMiddle},
    {{Control::小键盘, 97},  u"\uFF11尾",     u"1 或 End", 9120, 1824, 480, 408, 16, Finger::RightIndex},
    {{Control::小键盘, 98},  u"\uFF12↓",      u"2 或 ↓", 9600, 1824, 480, 408, 15, Finger::RightMiddle},
    {{Control::小键盘, 99},  u"\uFF13后",     u"3 或 Page Down", 10080, 1824, 480, 408, 14, Finger::RightRing},
    {{Control::小回车, 0},   u"回车",         u"Enter", 10560, 1824, 480, 816, 0, Finger::RightLittle},
    // Top 2232: bottom row, the other three arrows, keypad 0 and decimal point.
    {{Control::控制, 162},   u"控制",         u"Control", 0, 2232, 720, 408, 13, Finger::LeftLittle},
    {{Control::徽标, 91},    u"徽标",         u"Windows 徽标", 720, 2232, 600, 408, 12, Finger::LeftIndex},
    {{Control::转换, 164},   u"转换",         u"Alter", 1320, 2232, 600, 408, 11, Finger::LeftThumb},
    {{Control::SKB, 32},     u"空格",         u"Space", 1920, 2232, 2760, 408, 10, Finger::BothThumbs},
    {{Control::转换, 165},   u"转换",         u"Alter", 4680, 2232, 600, 408, 9, Finger::RightThumb},
    {{Control::徽标, 92},    u"徽标",         u"Windows 徽标", 5280, 2232, 600, 408, 8, Finger::RightIndex},
    {{Control::快捷菜单, 0}, u"快捷菜单",     u"Pop-up Menu", 5880, 2232, 600, 408, 7, Finger::RightMiddle},
    {{Control::控制, 163},   u"控制",         u"Control", 6480, 2232, 720, 408, 6, Finger::RightLittle},
    {{Control::SKB, 37},     u"←",            u"Left Arrow", 7440, 2232, 480, 408, 5, Finger::RightIndex},
    {{Control::SKB, 40},     u"↓",            u"Down Arrow", 7920, 2232, 480, 408, 4, Finger::RightMiddle},
    {{Control::SKB, 39},     u"→",            u"Right Arrow", 8400, 2232, 480, 408, 3, Finger::RightRing},
    {{Control::小键盘, 96},  u"\uFF10插",     u"0 或 Insert", 9120, 2232, 960, 408, 2, Finger::RightThumb},
    {{Control::小键盘, 110}, u"\uFF0E删",     u"Period 或 Delete", 10080, 2232, 480, 408, 1, Finger::RightRing},
}};
// clang-format on

// The row of a key in kKeys, or -1 if the keyboard has no such key.
constexpr int KeyRow(KeyRef key) {
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i].key == key) return static_cast<int>(i);
    }
    return -1;
}

// The table row of a key, or nullptr if the keyboard has no such key.
constexpr const KeyDef* FindKey(KeyRef key) {
    const int row = KeyRow(key);
    return row < 0 ? nullptr : &kKeys[static_cast<std::size_t>(row)];
}

namespace key_table_detail {

constexpr bool KeysStayInsideTheClientArea() {
    for (const KeyDef& k : kKeys) {
        if (k.left < 0 || k.top < 0 || k.width <= 0 || k.left + k.width > kClientWidth ||
            k.top + k.height > kClientHeight || (k.height != 408 && k.height != 816)) {
            return false;
        }
    }
    return true;
}

}  // namespace key_table_detail

static_assert(key_table_detail::KeysStayInsideTheClientArea());
static_assert(KeyRow({Control::小回车}) >= 0 && KeyRow({Control::快捷菜单}) >= 0 &&
              KeyRow({Control::大写锁}) >= 0 && KeyRow({Control::数字锁}) >= 0 &&
              KeyRow({Control::卷轴锁}) >= 0);
static_assert(FindKey({Control::SKB, 0}) == nullptr);

}  // namespace vimbrel
