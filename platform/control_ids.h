// Control identifiers of the keyboard window's children. Automation and the
// end-to-end tests find a key by its id: 0x1000 | control << 8 | element index.
#pragma once

#include "layout/key_ref.h"
#include "layout/key_table.h"
#include "layout/labels.h"

namespace vimbrel {

constexpr int KeyControlId(KeyRef key) { return 0x1000 | (static_cast<int>(key.control) << 8) | key.index; }

constexpr bool IsKeyControlId(int id) {
    return id >= 0x1000 && id < 0x1000 + (kControlCount << 8);
}

constexpr KeyRef KeyFromControlId(int id) {
    return {static_cast<Control>((id >> 8) & 0x0F), id & 0xFF};
}

inline constexpr int kFirstLabelId = 0x2000;  // then one id per label, in label-table order

// Every key's id is a key id and leads back to that key, so no two keys share
// one; the labels' ids are not key ids.
static_assert([] {
    for (const KeyDef& k : kKeys)
        if (!IsKeyControlId(KeyControlId(k.key)) || KeyFromControlId(KeyControlId(k.key)) != k.key) return false;
    return !IsKeyControlId(kFirstLabelId + static_cast<int>(kLabels.size()) - 1) && !IsKeyControlId(kFirstLabelId);
}());

}  // namespace vimbrel
