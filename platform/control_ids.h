// Control identifiers of the keyboard window's children. Automation and the
// end-to-end tests find a key by its id: 0x1000 | control << 8 | element index.
#pragma once

#include "layout/key_ref.h"

namespace vimbrel {

constexpr int KeyControlId(KeyRef key) { return 0x1000 | (static_cast<int>(key.control) << 8) | key.index; }

constexpr bool IsKeyControlId(int id) {
    return id >= 0x1000 && id < 0x1000 + (kControlCount << 8);
}

constexpr KeyRef KeyFromControlId(int id) {
    return {static_cast<Control>((id >> 8) & 0x0F), id & 0xFF};
}

inline constexpr int kFirstLabelId = 0x2000;  // then one id per label, in label-table order

static_assert(KeyFromControlId(KeyControlId({Control::换档, 161})) == KeyRef{Control::换档, 161});

}  // namespace vimbrel
