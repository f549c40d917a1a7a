// What screen readers hear: the keys' full names, the lights' names and states.
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_text.h"

#include "layout/accessible_names.h"
#include "window/controls.h"

namespace vimbrel {
namespace {

std::string Describe(KeyRef key) {
    return "control " + std::to_string(static_cast<int>(key.control)) + " index " + std::to_string(key.index);
}

TEST(AccessibleNames, EveryKeyIsNamedByItsTooltipOnOneLine) {
    for (const KeyDef& k : kKeys) {
        const std::u16string_view name = AccessibleName(k.key);
        SCOPED_TRACE(Describe(k.key) + " caption " + Utf8(k.caption));
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(name.find(u'\n'), std::u16string_view::npos);
        EXPECT_EQ(name.find(u'\r'), std::u16string_view::npos);
        EXPECT_EQ(name.find(u"&&"), std::u16string_view::npos);
        EXPECT_EQ(Utf8(name), Utf8(k.tooltip));
    }
    EXPECT_TRUE(AccessibleName({Control::SKB, 0}).empty());
    EXPECT_TRUE(AccessibleName({Control::大写锁, 1}).empty());
}

// A name shared by two keys must mean the same key twice: the left and right
// modifiers, and Enter on the main block and on the keypad.
TEST(AccessibleNames, OnlyTwinKeysShareAName) {
    std::map<std::u16string_view, std::vector<KeyRef>> byName;
    for (const KeyDef& k : kKeys) byName[AccessibleName(k.key)].push_back(k.key);
    const std::set<KeyRef> enters = {{Control::SKB, 13}, {Control::小回车, 0}};
    for (const auto& [name, keys] : byName) {
        if (keys.size() == 1) continue;
        SCOPED_TRACE(Utf8(name));
        ASSERT_EQ(keys.size(), 2u);
        const bool twinModifiers = keys[0].control == keys[1].control && keys[0].control != Control::SKB &&
                                   keys[0].control != Control::小键盘;
        EXPECT_TRUE(twinModifiers || std::set<KeyRef>(keys.begin(), keys.end()) == enters)
            << Describe(keys[0]) << " and " << Describe(keys[1]);
    }
}

TEST(AccessibleNames, EachLightIsNamedByTheTextUnderIt) {
    EXPECT_EQ(Utf8(LightAccessibleName(Light::数字灯)), "数字灯");
    EXPECT_EQ(Utf8(LightAccessibleName(Light::大写灯)), "大写灯");
    EXPECT_EQ(Utf8(LightAccessibleName(Light::卷轴灯)), "卷轴灯");
    for (const LabelDef& light : kLabels) {
        if (!light.isLight) continue;
        const Twips centre = light.left + light.width / 2;
        int under = 0;
        for (const LabelDef& text : kLabels) {
            if (text.isLight || text.top != light.top + light.height) continue;
            if (text.left > centre || text.left + text.width < centre) continue;
            ++under;
            EXPECT_EQ(Utf8(LightAccessibleName(light.light)), Utf8(text.caption)) << Utf8(light.name);
        }
        EXPECT_EQ(under, 1) << Utf8(light.name);
    }
}

TEST(AccessibleNames, LightValueAndStateFollowItsColour) {
    EXPECT_EQ(Utf8(LightValue(true)), "亮");
    EXPECT_EQ(Utf8(LightValue(false)), "灭");
    EXPECT_TRUE(LightLit(kHighlight));
    EXPECT_FALSE(LightLit(kReleasedBlue));
}

}  // namespace
}  // namespace vimbrel
