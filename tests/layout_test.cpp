// The key table, lights and labels: counts, codes, geometry, focus order, fingering and captions.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_text.h"

#include "layout/key_table.h"
#include "layout/labels.h"
#include "window/controls.h"

namespace vimbrel {
namespace {

std::string Name(KeyRef key) {
    const ControlDef& c = ControlInfo(key.control);
    const std::string name = Utf8(c.name);
    return c.isArray ? name + "(" + std::to_string(key.index) + ")" : name;
}

// Every control of the window as a rectangle with its tab index.
struct Placed {
    std::string name;
    Twips left, top, right, bottom;
    int tabIndex;
};

std::vector<Placed> AllControls() {
    std::vector<Placed> all;
    for (const KeyDef& k : kKeys) {
        all.push_back({Name(k.key), k.left, k.top, k.left + k.width, k.top + k.height, k.tabIndex});
    }
    for (const LabelDef& l : kLabels) {
        all.push_back({Utf8(l.name), l.left, l.top, l.left + l.width, l.top + l.height, l.tabIndex});
    }
    return all;
}

const KeyDef& Key(KeyRef key) {
    const KeyDef* def = FindKey(key);
    EXPECT_NE(def, nullptr) << Name(key);
    static const KeyDef kMissing{};
    return def ? *def : kMissing;
}

TEST(KeyTable, HoldsEachControlItsNumberOfKeys) {
    std::map<Control, int> count;
    for (const KeyDef& k : kKeys) ++count[k.key.control];
    const std::map<Control, int> expected = {
        {Control::SKB, 80},    {Control::小键盘, 11},   {Control::小回车, 1}, {Control::快捷菜单, 1},
        {Control::徽标, 2},    {Control::转换, 2},      {Control::控制, 2},   {Control::换档, 2},
        {Control::大写锁, 1},  {Control::数字锁, 1},    {Control::卷轴锁, 1},
    };
    EXPECT_EQ(count, expected);
}

TEST(KeyTable, ArrayIndicesAreVirtualKeyCodesUsedOnce) {
    std::map<int, std::string> owner;
    std::map<Control, std::set<int>> indices;
    for (const KeyDef& k : kKeys) {
        if (!ControlInfo(k.key.control).isArray) continue;
        const auto [it, fresh] = owner.emplace(k.key.index, Name(k.key));
        EXPECT_TRUE(fresh) << Name(k.key) << " repeats the index of " << it->second;
        indices[k.key.control].insert(k.key.index);
        if (k.key.control == Control::SKB) {
            EXPECT_GE(k.key.index, 8) << Name(k.key);
            EXPECT_LE(k.key.index, 222) << Name(k.key);
        }
    }
    EXPECT_EQ(indices[Control::小键盘], (std::set<int>{96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 110}));
    EXPECT_EQ(indices[Control::徽标], (std::set<int>{91, 92}));      // VK_LWIN, VK_RWIN
    EXPECT_EQ(indices[Control::控制], (std::set<int>{162, 163}));    // VK_LCONTROL, VK_RCONTROL
    EXPECT_EQ(indices[Control::换档], (std::set<int>{160, 161}));    // VK_LSHIFT, VK_RSHIFT
    EXPECT_EQ(indices[Control::转换], (std::set<int>{164, 165}));    // VK_LMENU, VK_RMENU
}

// The fingering chart, finger by finger: a second account of the keyboard that
// the row-by-row table must agree with, key codes included.
struct FingerChart {
    Finger finger;
    std::vector<int> skb;
    std::vector<KeyRef> others;
};

const std::vector<FingerChart>& Chart() {
    static const std::vector<FingerChart> chart = {
        {Finger::LeftLittle, {27, 192, 49, 9, 81, 65, 90}, {{Control::控制, 162}}},
        {Finger::LeftRing, {112, 50, 87, 83, 88}, {{Control::换档, 160}}},
        {Finger::LeftMiddle, {113, 51, 69, 68, 67}, {{Control::大写锁}}},
        {Finger::LeftIndex, {114, 115, 52, 53, 82, 84, 70, 71, 86, 66}, {{Control::徽标, 91}}},
        {Finger::LeftThumb, {}, {{Control::转换, 164}}},
        {Finger::BothThumbs, {32}, {}},
        {Finger::RightThumb, {}, {{Control::转换, 165}, {Control::小键盘, 96}}},
        {Finger::RightIndex,
         {116, 44, 54, 55, 45, 89, 85, 46, 72, 74, 78, 77, 37},
         {{Control::徽标, 92}, {Control::数字锁}, {Control::小键盘, 103}, {Control::小键盘, 100},
          {Control::小键盘, 97}}},
        {Finger::RightMiddle,
         {117, 56, 36, 111, 73, 35, 75, 188, 38, 40},
         {{Control::卷轴锁}, {Control::快捷菜单}, {Control::小键盘, 104}, {Control::小键盘, 101},
          {Control::小键盘, 98}}},
        {Finger::RightRing,
         {118, 19, 57, 33, 106, 79, 34, 76, 190, 39},
         {{Control::换档, 161}, {Control::小键盘, 105}, {Control::小键盘, 102}, {Control::小键盘, 99},
          {Control::小键盘, 110}}},
        {Finger::RightLittle,
         {119, 120, 121, 122, 123, 48, 189, 187, 8, 109, 80, 219, 221, 220, 107, 186, 222, 13, 191},
         {{Control::控制, 163}, {Control::小回车}}},
    };
    return chart;
}

TEST(KeyTable, EveryKeyIsInTheFingeringChartOnceWithItsFinger) {
    std::map<KeyRef, Finger> charted;
    for (const FingerChart& row : Chart()) {
        std::vector<KeyRef> keys = row.others;
        for (int vk : row.skb) keys.push_back({Control::SKB, vk});
        for (KeyRef key : keys) {
            EXPECT_TRUE(charted.emplace(key, row.finger).second) << Name(key) << " charted twice";
        }
    }
    ASSERT_EQ(charted.size(), kKeys.size());
    for (const KeyDef& k : kKeys) {
        SCOPED_TRACE(Name(k.key));
        const auto it = charted.find(k.key);
        ASSERT_NE(it, charted.end()) << "not a key of the keyboard";
        EXPECT_EQ(k.finger, it->second);
    }
}

TEST(KeyGeometry, NoTwoControlsOverlap) {
    const std::vector<Placed> all = AllControls();
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            const Placed& a = all[i];
            const Placed& b = all[j];
            const bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
            EXPECT_FALSE(overlap) << a.name << " overlaps " << b.name;
        }
    }
}

TEST(KeyGeometry, RowsStandAtTheirTops) {
    const std::set<Twips> tops = {0, 600, 1008, 1416, 1824, 2232};
    for (const KeyDef& k : kKeys) {
        EXPECT_TRUE(tops.count(k.top)) << Name(k.key) << " at top " << k.top;
    }
}

TEST(KeyGeometry, LowerRowsOfTheMainBlockFillItsWidth) {
    constexpr Twips kMainRight = 7200;
    const KeyDef& backspace = Key({Control::SKB, 8});
    EXPECT_EQ(backspace.left + backspace.width, kMainRight);
    for (Twips top : {600, 1008, 1416, 1824, 2232}) {
        SCOPED_TRACE("row at top " + std::to_string(top));
        std::vector<const KeyDef*> row;
        for (const KeyDef& k : kKeys) {
            if (k.top == top && k.left < kMainRight) row.push_back(&k);
        }
        std::sort(row.begin(), row.end(), [](auto* a, auto* b) { return a->left < b->left; });
        Twips edge = 0;
        for (const KeyDef* k : row) {
            EXPECT_EQ(k->left, edge) << Name(k->key) << " leaves a gap or overlaps";
            EXPECT_EQ(k->height, 408) << Name(k->key);
            edge = k->left + k->width;
        }
        EXPECT_EQ(edge, kMainRight);
    }
}

TEST(KeyGeometry, FunctionKeysStandInGroupsOfFour) {
    EXPECT_EQ(Key({Control::SKB, 27}).left, 0);
    for (int i = 0; i < 12; ++i) {
        const KeyRef key{Control::SKB, 112 + i};  // VK_F1 + i
        SCOPED_TRACE(Name(key));
        const KeyDef& k = Key(key);
        // One key's gap after Escape, then four keys and a gap of 240 per group.
        EXPECT_EQ(k.left, 960 + (i / 4) * (4 * 480 + 240) + (i % 4) * 480);
        EXPECT_EQ(k.top, 0);
        EXPECT_EQ(k.width, 480);
    }
}

TEST(KeyGeometry, EditingBlockAndKeypadStandInTheirColumns) {
    const std::set<Twips> editing = {7440, 7920, 8400};
    const std::set<Twips> keypad = {9120, 9600, 10080, 10560};
    for (const KeyDef& k : kKeys) {
        if (k.left < 7200) continue;
        SCOPED_TRACE(Name(k.key));
        EXPECT_TRUE(editing.count(k.left) || keypad.count(k.left)) << "left " << k.left;
        const bool keypadZero = k.key == KeyRef{Control::小键盘, 96};
        EXPECT_EQ(k.width, keypadZero ? 960 : 480);
    }
    // Below the function row each keypad column is filled to the bottom edge.
    for (Twips column : keypad) {
        SCOPED_TRACE("keypad column " + std::to_string(column));
        std::vector<const KeyDef*> stack;
        for (const KeyDef& k : kKeys) {
            if (k.top >= 600 && k.left <= column && column < k.left + k.width) stack.push_back(&k);
        }
        std::sort(stack.begin(), stack.end(), [](auto* a, auto* b) { return a->top < b->top; });
        Twips edge = 600;
        for (const KeyDef* k : stack) {
            EXPECT_EQ(k->top, edge) << Name(k->key);
            edge = k->top + k->height;
        }
        EXPECT_EQ(edge, kClientHeight);
    }
}

TEST(KeyGeometry, KeysReachTheClientEdgesExactly) {
    Twips minLeft = kClientWidth, minTop = kClientHeight, maxRight = 0, maxBottom = 0;
    for (const KeyDef& k : kKeys) {
        minLeft = std::min(minLeft, k.left);
        minTop = std::min(minTop, k.top);
        maxRight = std::max(maxRight, k.left + k.width);
        maxBottom = std::max(maxBottom, k.top + k.height);
        // The corner above the keypad belongs to the lights.
        EXPECT_FALSE(k.left + k.width > 8880 && k.top < 600) << Name(k.key) << " stands among the lights";
    }
    EXPECT_EQ(minLeft, 0);
    EXPECT_EQ(minTop, 0);
    EXPECT_EQ(maxRight, kClientWidth);
    EXPECT_EQ(maxBottom, kClientHeight);
    EXPECT_EQ(Key({Control::SKB, 107}).height, 816);
    EXPECT_EQ(Key({Control::小回车}).height, 816);
}

// Numbers all 110 controls without gaps, from the lowest bottom edge up and right to left.
TEST(TabOrder, RunsFromTheLowestBottomEdgeAndRightToLeft) {
    std::vector<Placed> order = AllControls();
    ASSERT_EQ(order.size(), 110u);
    std::sort(order.begin(), order.end(), [](const Placed& a, const Placed& b) {
        return a.bottom != b.bottom ? a.bottom > b.bottom : a.left > b.left;
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(order[i].tabIndex, static_cast<int>(i)) << order[i].name;
    }
    EXPECT_EQ(order.front().name, "小回车");
    EXPECT_EQ(order[106].name, "SKB(27)");
}

TEST(KeyCaptions, DesignCaptionsAreSingleLine) {
    const auto singleLine = [](std::u16string_view s) {
        return !s.empty() && s.find(u'\n') == s.npos && s.find(u'\r') == s.npos;
    };
    for (const KeyDef& k : kKeys) {
        EXPECT_TRUE(singleLine(k.caption)) << Name(k.key) << " caption";
        EXPECT_TRUE(singleLine(k.tooltip)) << Name(k.key) << " tooltip";
    }
    for (const LabelDef& l : kLabels) EXPECT_TRUE(singleLine(l.caption)) << Utf8(l.name);
}

// A typing key shows what Shift types in ASCII, then the unshifted character
// in full width; the pairs are those of the US keyboard.
TEST(KeyCaptions, TypingKeysShowShiftedThenFullWidthUnshifted) {
    std::map<int, std::pair<char16_t, char16_t>> pairs = {
        {192, {u'~', u'`'}}, {189, {u'_', u'-'}}, {187, {u'+', u'='}},  {219, {u'{', u'['}},
        {221, {u'}', u']'}}, {220, {u'|', u'\\'}}, {186, {u':', u';'}}, {222, {u'"', u'\''}},
        {188, {u'<', u','}}, {190, {u'>', u'.'}},  {191, {u'?', u'/'}},
    };
    const std::u16string_view shiftedDigits = u")!@#$%^&*(";
    for (int d = 0; d < 10; ++d) pairs[u'0' + d] = {shiftedDigits[static_cast<std::size_t>(d)], char16_t(u'0' + d)};
    for (int c = u'A'; c <= u'Z'; ++c) pairs[c] = {char16_t(c), char16_t(c + 0x20)};
    ASSERT_EQ(pairs.size(), 47u);
    for (const auto& [vk, pair] : pairs) {
        const KeyRef key{Control::SKB, vk};
        SCOPED_TRACE(Name(key));
        std::u16string expected(1, pair.first);
        if (pair.first == u'&') expected += u'&';  // "&&" shows one "&"
        expected += char16_t(pair.second + 0xFEE0);
        EXPECT_EQ(Key(key).caption, expected);
    }
    EXPECT_EQ(Key({Control::SKB, 55}).caption, u"&&\uFF17");
    EXPECT_EQ(Key({Control::SKB, 220}).caption, u"\u007C\uFF3C");
    EXPECT_EQ(Key({Control::SKB, 222}).caption, u"\u0022\uFF07");
}

TEST(KeyCaptions, LetterAndDigitTooltipsNameBothCharacters) {
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        const KeyRef key{Control::SKB, c};
        SCOPED_TRACE(Name(key));
        EXPECT_EQ(Key(key).tooltip, std::u16string(1, char16_t(c + 0x20)) + u" 或 " + c);
    }
    for (char16_t c = u'0'; c <= u'9'; ++c) {
        const KeyRef key{Control::SKB, c};
        SCOPED_TRACE(Name(key));
        EXPECT_EQ(Key(key).tooltip.substr(0, 4), std::u16string(1, c) + u" 或 ");
    }
    // The odd spacing is kept as designed.
    EXPECT_EQ(Key({Control::SKB, 192}).tooltip.back(), u' ');
    EXPECT_EQ(Key({Control::小键盘, 101}).tooltip, u"5  ");
}

TEST(KeyCaptions, KeypadKeysLeadWithTheirFullWidthDigit) {
    for (const KeyDef& k : kKeys) {
        if (k.key.control != Control::小键盘) continue;
        SCOPED_TRACE(Name(k.key));
        ASSERT_EQ(k.caption.size(), 2u);
        const char16_t first = k.key.index == 110 ? u'\uFF0E' : char16_t(0xFF10 + k.key.index - 96);
        EXPECT_EQ(k.caption[0], first);
    }
    EXPECT_EQ(Key({Control::小键盘, 101}).caption[1], u'\u3000');
}

TEST(KeyLookup, FindsEveryKeyAndNothingElse) {
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        SCOPED_TRACE(Name(kKeys[i].key));
        EXPECT_EQ(KeyRow(kKeys[i].key), static_cast<int>(i));
        EXPECT_EQ(FindKey(kKeys[i].key), &kKeys[i]);
    }
    for (KeyRef absent : {KeyRef{Control::SKB, 96}, KeyRef{Control::SKB, 160}, KeyRef{Control::小键盘, 13},
                          KeyRef{Control::小回车, 13}, KeyRef{Control::换档, 16}}) {
        SCOPED_TRACE(Name(absent));
        EXPECT_EQ(KeyRow(absent), -1);
        EXPECT_EQ(FindKey(absent), nullptr);
    }
}

TEST(Labels, EachLightStandsCentredOverItsText) {
    std::vector<const LabelDef*> texts;
    for (const LabelDef& l : kLabels) {
        if (!l.isLight) texts.push_back(&l);
    }
    ASSERT_EQ(texts.size(), 3u);
    std::sort(texts.begin(), texts.end(), [](auto* a, auto* b) { return a->left < b->left; });
    const Light leftToRight[] = {Light::数字灯, Light::大写灯, Light::卷轴灯};
    for (std::size_t i = 0; i < 3; ++i) {
        const LabelDef& text = *texts[i];
        const LabelDef& light = LightLabel(text.light);
        SCOPED_TRACE(Utf8(text.name));
        EXPECT_EQ(text.light, leftToRight[i]);
        EXPECT_EQ(text.caption, light.name);
        EXPECT_EQ(light.caption, u"\u25CF");
        EXPECT_EQ(light.left, text.left + (text.width - light.width) / 2);
        EXPECT_EQ(light.left, text.left + 180);
        EXPECT_EQ(light.top + light.height, text.top);
        EXPECT_EQ(text.top + text.height, Key({Control::SKB, 27}).height);
        if (i > 0) {
            EXPECT_EQ(text.left - texts[i - 1]->left, 690);
        }
    }
}

}  // namespace
}  // namespace vimbrel
