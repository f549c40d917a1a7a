// The caption sets and the keypad's editing keys: exact texts, the full-width
// rule between the two sets of a pair, code page 936, and what a set writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "captions/caption_tables.h"
#include "layout/key_table.h"
#include "recording_platform.h"
#include "window/screen_keyboard.h"

namespace vimbrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using SetTable = std::span<const CaptionRow>;
using CaptionSet = void (ScreenKeyboard::*)();

struct NamedSet {
    const char* name;
    const char* id;  // for test names, which must be ASCII
    SetTable table;
    CaptionSet apply;
    Control control;
};

void PrintTo(const NamedSet& set, std::ostream* os) { *os << set.id; }

const NamedSet kSets[] = {
    {"大写字母", "CapitalLetters", kCapitalLetters, &ScreenKeyboard::大写字母, Control::SKB},
    {"小写字母", "SmallLetters", kSmallLetters, &ScreenKeyboard::小写字母, Control::SKB},
    {"上档符号", "UpperSymbols", kUpperSymbols, &ScreenKeyboard::上档符号, Control::SKB},
    {"下档符号", "LowerSymbols", kLowerSymbols, &ScreenKeyboard::下档符号, Control::SKB},
    {"数字小键盘", "DigitKeypad", kDigitKeypad, &ScreenKeyboard::数字小键盘, Control::小键盘},
    {"光标小键盘", "CursorKeypad", kCursorKeypad, &ScreenKeyboard::光标小键盘, Control::小键盘},
};

std::vector<int> Range(int first, int last) {
    std::vector<int> v(static_cast<std::size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

// The virtual-key codes of each key group, ascending.
std::vector<int> GroupKeys(const NamedSet& set) {
    if (set.control == Control::小键盘) {
        std::vector<int> keys = Range(96, 105);  // VK_NUMPAD0..9
        keys.push_back(110);                     // VK_DECIMAL
        return keys;
    }
    if (set.table.size() == 26) return Range('A', 'Z');
    std::vector<int> keys = Range('0', '9');
    for (int k : Range(186, 192)) keys.push_back(k);  // VK_OEM_1 .. VK_OEM_3
    for (int k : Range(219, 222)) keys.push_back(k);  // VK_OEM_4 .. VK_OEM_7
    return keys;
}

std::u16string_view Top(std::u16string_view caption) { return caption.substr(0, caption.find(u'\n')); }
std::u16string_view Bottom(std::u16string_view caption) { return caption.substr(caption.find(u'\n') + 1); }

// Converts to code page 936 and back; false if any character has no exact place in it.
bool RoundTripsThroughCodePage936(std::u16string_view text) {
    auto convert = [](const char* to, const char* from, std::string in, std::string& out) {
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1)) return false;
        out.assign(in.size() * 4 + 8, '\0');
        char* inPtr = in.data();
        char* outPtr = out.data();
        std::size_t inLeft = in.size(), outLeft = out.size();
        const std::size_t irreversible = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        iconv_close(cd);
        out.resize(out.size() - outLeft);
        return irreversible == 0 && inLeft == 0;
    };
    const std::string utf16(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    std::string gbk, back;
    return convert("CP936", "UTF-16LE", utf16, gbk) && convert("UTF-16LE", "CP936", gbk, back) &&
           back == utf16;
}

// The keys whose captions changed, in the order they changed.
std::vector<KeyRef> CaptionsChanged(const RecordingPlatform& platform) {
    std::vector<KeyRef> keys;
    for (const auto& [key, what] : platform.redrawnKeys)
        if (what.caption) keys.push_back(key);
    return keys;
}

TEST(CaptionTables, EveryCaptionIsTwoLinesJoinedByOneLineFeed) {
    std::vector<std::u16string_view> captions{kBackspaceCaption};
    for (const NamedSet& set : kSets)
        for (const CaptionRow& row : set.table) captions.push_back(row.caption);
    for (std::u16string_view caption : captions) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(caption)));
        EXPECT_EQ(std::ranges::count(caption, u'\n'), 1);
        EXPECT_EQ(caption.find(u'\r'), caption.npos);
        EXPECT_FALSE(Top(caption).empty());
        EXPECT_FALSE(Bottom(caption).empty());
        EXPECT_EQ(caption.find(u'"'), caption.npos);
        // A lone "&" would turn the next character into an access key and vanish.
        const std::u16string text(caption);
        std::u16string withoutPairs;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'&' && i + 1 < text.size() && text[i + 1] == u'&') ++i;
            else withoutPairs += text[i];
        }
        EXPECT_EQ(withoutPairs.find(u'&'), withoutPairs.npos);
    }
}

TEST(CaptionTables, EveryCharacterIsInCodePage936) {
    ASSERT_TRUE(RoundTripsThroughCodePage936(u"退格\n\uFF21"));
    ASSERT_FALSE(RoundTripsThroughCodePage936(u"\u0E01"));  // Thai: the check can fail
    EXPECT_TRUE(RoundTripsThroughCodePage936(kBackspaceCaption));
    for (const NamedSet& set : kSets)
        for (const CaptionRow& row : set.table) {
            SCOPED_TRACE(::testing::Message() << set.name << " key " << row.index);
            EXPECT_TRUE(RoundTripsThroughCodePage936(row.caption));
        }
}

// Pairs: the first set emphasises the top line, the second the bottom line.
struct SetPair {
    const char* name;
    SetTable emphasisedTop, emphasisedBottom;
    std::vector<int> ownTexts;  // keys whose characters do not follow the full-width rule
};

void PrintTo(const SetPair& pair, std::ostream* os) { *os << pair.name; }

class PairedSets : public ::testing::TestWithParam<SetPair> {};

TEST_P(PairedSets, ShareTheirKeysInAscendingOrder) {
    const SetPair& pair = GetParam();
    ASSERT_EQ(pair.emphasisedTop.size(), pair.emphasisedBottom.size());
    for (std::size_t i = 0; i < pair.emphasisedTop.size(); ++i) {
        EXPECT_EQ(pair.emphasisedTop[i].index, pair.emphasisedBottom[i].index);
        if (i > 0) {
            EXPECT_LT(pair.emphasisedTop[i - 1].index, pair.emphasisedTop[i].index);
        }
    }
}

TEST_P(PairedSets, EmphasisedCharacterIsThePartnersPlainOneInFullWidth) {
    const SetPair& pair = GetParam();
    const bool keypad = pair.emphasisedTop.front().index == 96;
    for (std::size_t i = 0; i < pair.emphasisedTop.size(); ++i) {
        const CaptionRow& a = pair.emphasisedTop[i];
        const CaptionRow& b = pair.emphasisedBottom[i];
        SCOPED_TRACE(::testing::Message() << pair.name << " key " << a.index);
        if (std::ranges::find(pair.ownTexts, a.index) != pair.ownTexts.end()) continue;
        ASSERT_EQ(Top(a.caption).size(), 1u);
        ASSERT_EQ(Top(b.caption).size(), 1u);
        EXPECT_GT(Top(b.caption)[0], u' ');
        EXPECT_LT(Top(b.caption)[0], u'\x7F');
        EXPECT_EQ(Top(a.caption)[0], Top(b.caption)[0] + 0xFEE0);
        if (keypad) {
            // The editing functions are already wide: the same in both sets.
            EXPECT_EQ(Bottom(a.caption), Bottom(b.caption));
            continue;
        }
        ASSERT_EQ(Bottom(a.caption).size(), 1u);
        ASSERT_EQ(Bottom(b.caption).size(), 1u);
        EXPECT_GT(Bottom(a.caption)[0], u' ');
        EXPECT_LT(Bottom(a.caption)[0], u'\x7F');
        EXPECT_EQ(Bottom(b.caption)[0], Bottom(a.caption)[0] + 0xFEE0);
    }
}

INSTANTIATE_TEST_SUITE_P(CaptionTables, PairedSets,
                         ::testing::Values(SetPair{"letters", kCapitalLetters, kSmallLetters, {}},
                                           SetPair{"symbols", kUpperSymbols, kLowerSymbols, {55, 189, 222}},
                                           SetPair{"keypad", kDigitKeypad, kCursorKeypad, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

class CaptionSets : public ::testing::TestWithParam<NamedSet> {
protected:
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform};
    void Apply(CaptionSet set) { (keyboard.*set)(); }
};

TEST_P(CaptionSets, WritesExactlyItsOwnKeysInAscendingOrder) {
    const NamedSet& set = GetParam();
    Apply(set.apply);
    std::vector<KeyRef> expected;
    for (int index : GroupKeys(set)) expected.push_back({set.control, index});
    EXPECT_EQ(CaptionsChanged(platform), expected);
    for (const CaptionRow& row : set.table) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(keyboard.States().Caption({set.control, row.index}), row.caption);
    }
    EXPECT_THAT(platform.keys, IsEmpty());
}

TEST_P(CaptionSets, ReplacesItsPartnerAndRepeatsWithoutChange) {
    const NamedSet& set = GetParam();
    const auto self = std::ranges::find(kSets, set.apply, &NamedSet::apply) - std::begin(kSets);
    const NamedSet& partner = kSets[self ^ 1];
    auto captions = [this] {
        std::vector<std::u16string> all;
        for (std::size_t row = 0; row < kKeys.size(); ++row) all.push_back(keyboard.States().Key(row).caption);
        return all;
    };
    Apply(set.apply);
    const auto alone = captions();
    Apply(partner.apply);
    Apply(set.apply);
    EXPECT_EQ(captions(), alone);
    // Once more: the same captions, and nothing for the front end to draw again.
    platform.redrawnKeys.clear();
    Apply(set.apply);
    EXPECT_EQ(captions(), alone);
    EXPECT_THAT(platform.redrawnKeys, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Captions, CaptionSets, ::testing::ValuesIn(kSets),
                         [](const auto& info) { return std::string(info.param.id); });

// The keys whose characters are not simply an ASCII character and its full-width form.
TEST(CaptionSets, KeysWithTextsOfTheirOwnShowExactlyThoseCodeUnits) {
    struct Pin {
        CaptionSet set;
        KeyRef key;
        std::u16string text;
    };
    const Pin pins[] = {
        {&ScreenKeyboard::大写字母, {Control::SKB, 'A'}, {0xFF21, 0x0A, 0x61}},
        {&ScreenKeyboard::小写字母, {Control::SKB, 'A'}, {0x41, 0x0A, 0xFF41}},
        {&ScreenKeyboard::上档符号, {Control::SKB, '7'}, {0xFF06, 0x0A, 0x37}},
        {&ScreenKeyboard::下档符号, {Control::SKB, '7'}, {0x26, 0x26, 0x0A, 0xFF17}},
        {&ScreenKeyboard::上档符号, {Control::SKB, 189}, {0x5F, 0x5F, 0x5F, 0x0A, 0x2D}},
        {&ScreenKeyboard::下档符号, {Control::SKB, 189}, {0x5F, 0x5F, 0x0A, 0xFF0D}},
        {&ScreenKeyboard::上档符号, {Control::SKB, 192}, {0xFF5E, 0x0A, 0x60}},
        {&ScreenKeyboard::下档符号, {Control::SKB, 192}, {0x7E, 0x0A, 0xFF40}},
        {&ScreenKeyboard::上档符号, {Control::SKB, 220}, {0xFF5C, 0x0A, 0x5C}},
        {&ScreenKeyboard::下档符号, {Control::SKB, 220}, {0x7C, 0x0A, 0xFF3C}},
        {&ScreenKeyboard::上档符号, {Control::SKB, 222}, {0x201D, 0x0A, 0x27}},
        {&ScreenKeyboard::下档符号, {Control::SKB, 222}, {0x2033, 0x0A, 0xFF07}},
        {&ScreenKeyboard::数字小键盘, {Control::小键盘, 101}, {0xFF15, 0x0A, 0x20, 0x20}},
        {&ScreenKeyboard::光标小键盘, {Control::小键盘, 101}, {0x35, 0x0A, 0x20, 0x20}},
        {&ScreenKeyboard::数字小键盘, {Control::小键盘, 110}, {0xFF0E, 0x0A, 0x5220}},
        {&ScreenKeyboard::光标小键盘, {Control::小键盘, 96}, {0x30, 0x0A, 0x63D2}},
    };
    for (const Pin& pin : pins) {
        SCOPED_TRACE(pin.key.index);
        RecordingPlatform platform;
        ScreenKeyboard keyboard{platform};
        (keyboard.*pin.set)();
        EXPECT_EQ(keyboard.States().Caption(pin.key), pin.text);
    }
}

// Each bottom-line word names the editing key that the keypad key sends.
TEST(KeypadCursor, SendsOneStrokeOfTheKeyItsCaptionNames) {
    const std::pair<std::u16string_view, int> named[] = {
        {u"插", 45}, {u"尾", 35},     {u"\u2193", 40}, {u"后", 34},     {u"\u2190", 37},
        {u"头", 36}, {u"\u2191", 38}, {u"前", 33},     {u"\u2192", 39}, {u"删", 46},
    };
    int checked = 0;
    for (const CaptionRow& row : kCursorKeypad) {
        if (row.index == 101) continue;
        SCOPED_TRACE(row.index);
        const auto name = std::ranges::find(named, Bottom(row.caption), &std::pair<std::u16string_view, int>::first);
        ASSERT_NE(name, std::end(named));
        RecordingPlatform platform;
        ScreenKeyboard keyboard{platform};
        keyboard.小键盘光标(row.index);
        EXPECT_THAT(platform.keys, ElementsAre(Down(name->second), Up(name->second)));
        ++checked;
    }
    EXPECT_EQ(checked, 10);
}

TEST(KeypadCursor, KeypadFiveAndKeysOutsideTheKeypadSendNothing) {
    for (int index : {101, 106, 107, 109, 111, 95, 108, 0, -1, 200}) {
        SCOPED_TRACE(index);
        RecordingPlatform platform;
        ScreenKeyboard keyboard{platform};
        keyboard.小键盘光标(index);
        EXPECT_THAT(platform.keys, IsEmpty());
    }
}

}  // namespace
}  // namespace vimbrel
