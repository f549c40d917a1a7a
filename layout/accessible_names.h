// What screen readers are told about the keys and the lights. A key's caption
// is two characters stacked on two lines, or an abbreviation such as "卷轴锁定",
// and changes with Shift and the locks; its tooltip is its full, fixed name.
#pragma once

#include <string_view>

#include "layout/colours.h"
#include "layout/key_ref.h"
#include "layout/key_table.h"
#include "layout/labels.h"

namespace vimbrel {

// A key's accessible name: its tooltip. Empty for a key the keyboard lacks.
constexpr std::u16string_view AccessibleName(KeyRef key) {
    const KeyDef* def = FindKey(key);
    return def ? def->tooltip : std::u16string_view{};
}

// A light's accessible name: the text of the label under it.
constexpr std::u16string_view LightAccessibleName(Light light) {
    for (const LabelDef& l : kLabels)
        if (!l.isLight && l.light == light) return l.caption;
    return {};
}

// Whether a light is lit, from its text colour.
constexpr bool LightLit(Colour text) { return text == kHighlight; }

// A light's accessible value.
constexpr std::u16string_view LightValue(bool lit) { return lit ? u"亮" : u"灭"; }

}  // namespace vimbrel
