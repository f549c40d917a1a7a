// Reads what screen readers are told about the keyboard's controls, through
// Active Accessibility, and prints one plain line per control.
//
// Usage: acc_probe.exe [--standard] ID|all [ID ...]
//
//   ID          a control id of the keyboard window (0x1041 or 4161)
//   all         every child of the keyboard window, in z-order
//   --standard  read the system's standard object of each control
//               (CreateStdAccessibleObject) instead of asking the control
//               (AccessibleObjectFromWindow), to compare the two
//
// Each line is "acc id=0x1041 hwnd=0x... name=... role=43 state=0x00100000
// value=... shortcut=...", texts as UTF-16 code units in hex ("0061"), empty
// when there is none. A call that does not return S_OK adds "<what>_hr=0x...";
// a role that is a string is printed as "role_text=<hex>". A missing control
// prints "acc id=0x1041 none".
//
// The exit code is 0 when every control was found and gave its name, role and
// state, 1 otherwise, 2 on a usage error or when there is no keyboard window.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kKeyboardClass[] = L"ScreenKeyboard";

std::string Hex(const wchar_t* text, UINT length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (UINT i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(static_cast<unsigned short>(text[i]));
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
    }
    return out;
}

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
bool Report(HWND child, int id, bool standard) {
    if (!child) {
        std::printf("acc id=0x%04x none\n", static_cast<unsigned>(id));
        return false;
    }
    IAccessible* acc = nullptr;
    const HRESULT got = standard ? CreateStdAccessibleObject(child, OBJID_CLIENT, IID_IAccessible,
                                                             reinterpret_cast<void**>(&acc))
                                 : AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT),
                                                              IID_IAccessible, reinterpret_cast<void**>(&acc));
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

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

bool ParseId(const wchar_t* text, int* id) {
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 0);
    if (!end || *end != L'\0' || value <= 0 || value > 0xFFFF) return false;
    *id = static_cast<int>(value);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool standard = false;
    std::vector<const wchar_t*> wanted;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--standard") == 0)
            standard = true;
        else
            wanted.push_back(argv[i]);
    }
    if (wanted.empty()) {
        std::fprintf(stderr, "usage: acc_probe.exe [--standard] ID|all [ID ...]\n");
        return 2;
    }
    const HWND keyboard = FindWindowW(kKeyboardClass, nullptr);
    if (!keyboard) {
        std::fprintf(stderr, "acc_probe: no window of class ScreenKeyboard\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "acc_probe: CoInitializeEx failed\n");
        return 2;
    }
    bool complete = true;
    for (const wchar_t* arg : wanted) {
        if (std::wcscmp(arg, L"all") == 0) {
            std::vector<HWND> children;
            EnumChildWindows(keyboard, CollectChild, reinterpret_cast<LPARAM>(&children));
            for (HWND child : children)
                if (GetParent(child) == keyboard) complete = Report(child, GetDlgCtrlID(child), standard) && complete;
            continue;
        }
        int id = 0;
        if (!ParseId(arg, &id)) {
            std::fprintf(stderr, "acc_probe: bad control id: %ls\n", arg);
            CoUninitialize();
            return 2;
        }
        complete = Report(GetDlgItem(keyboard, id), id, standard) && complete;
    }
    std::fflush(stdout);
    CoUninitialize();
    return complete ? 0 : 1;
}
