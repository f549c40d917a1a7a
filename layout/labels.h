// The three indicator lights and the three texts under them, above the keypad.
#pragma once

#include <array>
#include <string_view>

#include "layout/colours.h"
#include "layout/key_def.h"
#include "layout/key_ref.h"

namespace vimbrel {

// A label sizes itself to its text, in the window's font, with a transparent
// background. It never takes the focus; its tab index only keeps the window's
// numbering continuous after the keys.
struct LabelDef {
    std::u16string_view name;
    std::u16string_view caption;
    Colour textColour;  // for a light, its state: highlight is lit, released blue dark
    Twips left, top, width, height;
    int tabIndex;
    bool isLight;
    Light light;  // the light itself, or for a text label the light it names
};

// Each light stands centred over its text, (540 - 180) / 2 = 180 in from the
// text's left edge, and touches it; the pairs are 690 apart. At start only Num
// Lock is lit.
// clang-format off
inline constexpr std::array<LabelDef, 6> kLabels = {{
    {u"数字灯", u"\u25CF", kHighlight,     9300,  48,  180, 180, 109, true,  Light::数字灯},
    {u"大写灯", u"\u25CF", kReleasedBlue,  9990,  48,  180, 180, 108, true,  Light::大写灯},
    {u"卷轴灯", u"\u25CF", kReleasedBlue,  10680, 48,  180, 180, 107, true,  Light::卷轴灯},
    {u"Label1", u"数字灯", kWhite,         9120,  228, 540, 180, 90,  false, Light::数字灯},
    {u"Label2", u"大写灯", kWhite,         9810,  228, 540, 180, 89,  false, Light::大写灯},
    {u"Label3", u"卷轴灯", kWhite,         10500, 228, 540, 180, 88,  false, Light::卷轴灯},
}};
// clang-format on

// The label that shows a light, and its row: the lights lead the table in the order of Light.
constexpr std::size_t LightRow(Light light) { return static_cast<std::size_t>(light); }
constexpr const LabelDef& LightLabel(Light light) { return kLabels[LightRow(light)]; }
static_assert(LightLabel(Light::数字灯).isLight && LightLabel(Light::数字灯).light == Light::数字灯);
static_assert(LightLabel(Light::大写灯).isLight && LightLabel(Light::大写灯).light == Light::大写灯);
static_assert(LightLabel(Light::卷轴灯).isLight && LightLabel(Light::卷轴灯).light == Light::卷轴灯);

}  // namespace vimbrel
