// The command that reads what screen readers are told about the keyboard's
// controls, through Active Accessibility:
//
//   acc ID|all          one line per control: a control id of the keyboard window
//                       (0x1041 or 4161), or every child of the keyboard window in z-order
//
// Each line is "acc id=0x1041 hwnd=0x... name=... role=43 state=0x00100000
// value=... shortcut=...", texts in hex, empty when there is none. A call that
// does not return S_OK adds "<what>_hr=0x..."; a role that is a string is
// printed as "role_text=<hex>". A missing control prints "acc id=0x1041 none".
// The command counts as failed when a control is missing or did not give its
// name, role and state.
#include "probe.h"

#include <oleacc.h>

#include <cstdio>

namespace probe {
namespace {

std::string HrText(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lx", static_cast<unsigned long>(hr));
    return buffer;
}

// " key=<hex>", and " key_hr=0x..." when the call did not return S_OK.
std::string StringField(const char* key, HRESULT hr, BSTR text) {
    std::string out = std::string(" ") + key + "=";
    if (SUCCEEDED(hr) && text) out += Hex(text, SysStringLen(text));
    if (hr != S_OK) out += std::string(" ") + key + "_hr=" + HrText(hr);
    SysFreeString(text);
    return out;
}

VARIANT Self() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

// Prints the line of one control; false when its name, role or state could not be read.
bool Report(HWND child, int id) {
    if (!child) {
        std::printf("acc id=0x%04x none\n", static_cast<unsigned>(id));
        return false;
    }
    IAccessible* acc = nullptr;
    const HRESULT got = AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                   reinterpret_cast<void**>(&acc));
    char head[48];
    std::snprintf(head, sizeof head, "acc id=0x%04x hwnd=0x%lx", static_cast<unsigned>(id),
                  static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(child)));
    std::string line = head;
    if (FAILED(got) || !acc) {
        std::printf("%s object_hr=%s\n", line.c_str(), HrText(FAILED(got) ? got : E_POINTER).c_str());
        return false;
    }
    bool complete = true;
    const VARIANT self = Self();

    BSTR name = nullptr;
    HRESULT hr = acc->get_accName(self, &name);
    complete = complete && hr == S_OK;
    line += StringField("name", hr, name);

    VARIANT role;
    VariantInit(&role);
    hr = acc->get_accRole(self, &role);
    if (SUCCEEDED(hr) && role.vt == VT_I4) {
        line += " role=" + std::to_string(role.lVal);
    } else if (SUCCEEDED(hr) && role.vt == VT_BSTR) {
        line += " role_text=" + Hex(role.bstrVal, SysStringLen(role.bstrVal));
        complete = false;
    } else {
        line += " role= role_hr=" + HrText(FAILED(hr) ? hr : DISP_E_TYPEMISMATCH);
        complete = false;
    }
    VariantClear(&role);

    VARIANT state;
    VariantInit(&state);
    hr = acc->get_accState(self, &state);
    if (SUCCEEDED(hr) && state.vt == VT_I4) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%08lx", static_cast<unsigned long>(state.lVal));
        line += std::string(" state=") + buffer;
    } else {
        line += " state= state_hr=" + HrText(FAILED(hr) ? hr : DISP_E_TYPEMISMATCH);
        complete = false;
    }
    VariantClear(&state);

    BSTR value = nullptr;
    hr = acc->get_accValue(self, &value);
    line += StringField("value", hr, value);

    BSTR shortcut = nullptr;
    hr = acc->get_accKeyboardShortcut(self, &shortcut);
    line += StringField("shortcut", hr, shortcut);

    acc->Release();
    std::printf("%s\n", line.c_str());
    return complete;
}

Result Acc(Args& args) {
    std::wstring which;
    long id = 0;
    if (!args.Word(which)) return Result::Usage;
    if (which != L"all") {
        wchar_t* end = nullptr;
        id = std::wcstol(which.c_str(), &end, 0);
        if (!end || *end != L'\0' || id <= 0 || id > 0xFFFF) return Result::Usage;
    }
    const HWND keyboard = Keyboard();
    if (!keyboard) return Failed("acc", "no keyboard");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Failed("acc", "CoInitializeEx");
    bool complete = true;
    if (which == L"all") {
        for (HWND child : ChildrenOf(keyboard)) complete = Report(child, GetDlgCtrlID(child)) && complete;
    } else {
        complete = Report(GetDlgItem(keyboard, static_cast<int>(id)), static_cast<int>(id));
    }
    CoUninitialize();
    return complete ? Result::Ok : Result::Missing;
}

constexpr Command kCommands[] = {{L"acc", Acc}};

}  // namespace

std::span<const Command> AccCommands() { return kCommands; }

}  // namespace probe
