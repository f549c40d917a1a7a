// What a control tells screen readers through Active Accessibility: a name,
// a role, extra state bits and a value, given in place of what the system
// would derive from the control's class and window text.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <functional>
#include <string>

namespace vimbrel {

struct AccessibleInfo {
    std::wstring name;
    long role;                            // ROLE_SYSTEM_*
    std::function<long()> state;          // STATE_SYSTEM_* bits added to the control's own; may be empty
    std::function<std::wstring()> value;  // empty: the control's own value
};

// From now until the control is destroyed, its client object (OBJID_CLIENT)
// answers with the info and with the system's standard object for everything
// else. The functions are called on the control's thread, never after its
// WM_NCDESTROY.
void ExposeAccessible(HWND control, AccessibleInfo info);

// At exit, on the thread of the exposed controls, once they are destroyed:
// leaves the COM apartment the thread entered to answer screen readers, if any.
void EndAccessibility();

// Tell listening screen readers that what the state or the value function
// returns for the control has changed.
void AccessibleStateChanged(HWND control);
void AccessibleValueChanged(HWND control);

}  // namespace vimbrel
