// What a control tells screen readers through Active Accessibility: a name,
// a role, extra state bits and a value, given in place of what the system
// would derive from the control's class and window text.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string_view>

namespace vimbrel {

// Answers for the controls' changing state. It must outlive the controls it
// answers for; it is asked on the controls' thread only.
class AccessibleSource {
public:
    // STATE_SYSTEM_* bits added to the control's own.
    virtual long ExtraState(HWND control) const = 0;
    // The control's value; empty: the control's own.
    virtual std::u16string_view Value(HWND control) const = 0;

protected:
    ~AccessibleSource() = default;
};

struct AccessibleInfo {
    std::u16string_view name;  // text of static storage: it is not copied
    long role;                 // ROLE_SYSTEM_*
    const AccessibleSource* source;
};

// From now until the control is destroyed, its client object (OBJID_CLIENT)
// answers with the info and with the system's standard object for everything
// else. The source is not asked after the control's WM_NCDESTROY.
void ExposeAccessible(HWND control, AccessibleInfo info);

// Tell listening screen readers that what the source answers for the control has changed.
void AccessibleStateChanged(HWND control);
void AccessibleValueChanged(HWND control);

// Leaves the COM apartment the thread entered for the screen readers, if it did.
void EndAccessibility();

}  // namespace vimbrel
