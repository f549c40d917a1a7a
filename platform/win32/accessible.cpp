// The client object a screen reader gets for an exposed control: the system's
// standard object for the control, with name, role, state and value replaced.
//
// Each WM_GETOBJECT for OBJID_CLIENT gets a fresh wrapper around a fresh
// standard object, as the system itself does. A wrapper may live on in a
// screen reader after its control is gone; it shares the control's record
// with the subclass, which forgets the record's source (the window that owns
// the control) when the control is destroyed.
#include "platform/win32/accessible.h"

#include <new>

namespace vimbrel {

namespace {

// The accessibility and COM libraries are loaded when a screen reader first
// asks, not at start: most sessions never ask, and they cost start-up time and
// memory to every one.
struct OleFunctions {
    decltype(&::SysAllocStringLen) sysAllocStringLen = nullptr;
    decltype(&::VariantClear) variantClear = nullptr;
    decltype(&::LoadRegTypeLib) loadRegTypeLib = nullptr;
    decltype(&::DispGetIDsOfNames) dispGetIDsOfNames = nullptr;
    decltype(&::DispInvoke) dispInvoke = nullptr;
    decltype(&::CreateStdAccessibleObject) createStdAccessibleObject = nullptr;
    decltype(&::LresultFromObject) lresultFromObject = nullptr;
    decltype(&::CoInitializeEx) coInitializeEx = nullptr;
    decltype(&::CoUninitialize) coUninitialize = nullptr;
    bool complete = false;
};

template <typename Fn>
void Load(HMODULE module, const char* name, Fn& fn) {
    fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const OleFunctions& Ole() {
    static const OleFunctions functions = [] {
        OleFunctions f;
        HMODULE oleaut = LoadLibraryW(L"oleaut32.dll");
        HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
        HMODULE ole = LoadLibraryW(L"ole32.dll");
        Load(oleaut, "SysAllocStringLen", f.sysAllocStringLen);
        Load(oleaut, "VariantClear", f.variantClear);
        Load(oleaut, "LoadRegTypeLib", f.loadRegTypeLib);
        Load(oleaut, "DispGetIDsOfNames", f.dispGetIDsOfNames);
        Load(oleaut, "DispInvoke", f.dispInvoke);
        Load(oleacc, "CreateStdAccessibleObject", f.createStdAccessibleObject);
        Load(oleacc, "LresultFromObject", f.lresultFromObject);
        Load(ole, "CoInitializeEx", f.coInitializeEx);
        Load(ole, "CoUninitialize", f.coUninitialize);
        f.complete = f.sysAllocStringLen && f.variantClear && f.loadRegTypeLib && f.dispGetIDsOfNames &&
                     f.dispInvoke && f.createStdAccessibleObject &&
                     f.lresultFromObject && f.coInitializeEx && f.coUninitialize;
        return f;
    }();
    return functions;
}

// The COM apartment this thread entered for the screen readers, left at exit.
bool comEntered = false;

void VariantEmpty(VARIANT* v) { v->vt = VT_EMPTY; }

// One exposed control, shared by its subclass and the wrappers handed out,
// and freed by whichever lets go last.
class Exposed {
public:
    Exposed(HWND hwnd, AccessibleInfo info) : hwnd(hwnd), info(info) {}
    Exposed(const Exposed&) = delete;
    Exposed& operator=(const Exposed&) = delete;
    void AddRef() { ++refs_; }
    void Release() {
        if (--refs_ == 0) delete this;
    }

    const HWND hwnd;
    AccessibleInfo info;  // source is null once the control is gone

private:
    ~Exposed() = default;
    int refs_ = 1;  // COM calls come on the control's thread only
};

// A reference to an Exposed, let go of exactly once.
class ExposedRef {
public:
    explicit ExposedRef(Exposed* e) : e_(e) { e_->AddRef(); }
    ExposedRef(const ExposedRef&) = delete;
    ExposedRef& operator=(const ExposedRef&) = delete;
    ~ExposedRef() { e_->Release(); }
    Exposed* operator->() const { return e_; }

private:
    Exposed* e_;
};

// The child id as the standard objects read it: VT_EMPTY stands for the object itself.
bool IsSelf(const VARIANT& child) {
    const VARIANT* v = &child;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
    switch (v->vt) {
    case VT_EMPTY: return true;
    case VT_I4:    return v->lVal == CHILDID_SELF;
    case VT_I2:    return v->iVal == CHILDID_SELF;
    default:       return false;
    }
}

HRESULT ReturnString(std::u16string_view text, BSTR* out) {
    *out = Ole().sysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class AccessibleProxy final : public IAccessible, public IOleWindow {
public:
    // Takes over the caller's reference to the standard object.
    AccessibleProxy(Exposed* exposed, IAccessible* standard) : exposed_(exposed), standard_(standard) {}
    AccessibleProxy(const AccessibleProxy&) = delete;
    AccessibleProxy& operator=(const AccessibleProxy&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IAccessible)) {
            *object = static_cast<IAccessible*>(this);
        } else if (IsEqualIID(riid, IID_IOleWindow)) {
            *object = static_cast<IOleWindow*>(this);
        } else {
            // Whatever else the standard object offers (IServiceProvider,
            // IAccIdentity, IEnumVARIANT): UI Automation clients find the
            // control's runtime id through them.
            return standard_->QueryInterface(riid, object);
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: late-bound calls must reach the replaced members too, so they
    // go through IAccessible's type information to this object.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return LoadTypeInfo(info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = LoadTypeInfo(&info);
        if (FAILED(hr)) return hr;
        hr = Ole().dispGetIDsOfNames(info, names, count, ids);
        info->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* badArgument) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = LoadTypeInfo(&info);
        if (FAILED(hr)) return hr;
        hr = Ole().dispInvoke(static_cast<IAccessible*>(this), info, id, flags, params, result, exception, badArgument);
        info->Release();
        return hr;
    }

    // IAccessible: the replaced members.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return standard_->get_accName(child, name);
        if (!name) return E_POINTER;
        return ReturnString(exposed_->info.name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!IsSelf(child)) return standard_->get_accRole(child, role);
        if (!role) return E_POINTER;
        VariantEmpty(role);
        role->vt = VT_I4;
        role->lVal = exposed_->info.role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!IsSelf(child)) return standard_->get_accState(child, state);
        if (!state) return E_POINTER;
        const AccessibleSource* source = exposed_->info.source;
        if (!source) return standard_->get_accState(child, state);
        VARIANT own;
        VariantEmpty(&own);
        const HRESULT hr = standard_->get_accState(child, &own);
        const LONG standard = SUCCEEDED(hr) && own.vt == VT_I4 ? own.lVal : 0;
        Ole().variantClear(&own);
        VariantEmpty(state);
        state->vt = VT_I4;
        state->lVal = standard | source->ExtraState(exposed_->hwnd);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        const AccessibleSource* source = exposed_->info.source;
        const std::u16string_view own = source ? source->Value(exposed_->hwnd) : std::u16string_view{};
        if (!IsSelf(child) || own.empty()) return standard_->get_accValue(child, value);
        if (!value) return E_POINTER;
        return ReturnString(own, value);
    }
    // The system would make an access key of the character after a single "&"
    // in the caption; the keys' captions have none, only "&&" for an ampersand.
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        if (!IsSelf(child)) return standard_->get_accKeyboardShortcut(child, shortcut);
        if (!shortcut) return E_POINTER;
        *shortcut = nullptr;
        return S_FALSE;
    }

    // IAccessible: the standard object's answers.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

    // IOleWindow: how WindowFromAccessibleObject finds the control.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
        if (!hwnd) return E_POINTER;
        *hwnd = exposed_->hwnd;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    ~AccessibleProxy() { standard_->Release(); }

    // The standard object's type information when it has one, else the
    // Accessibility type library's.
    HRESULT LoadTypeInfo(ITypeInfo** info) {
        *info = nullptr;
        if (SUCCEEDED(standard_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info)) && *info) return S_OK;
        ITypeLib* library = nullptr;
        HRESULT hr = Ole().loadRegTypeLib(LIBID_Accessibility, 1, 1, LOCALE_NEUTRAL, &library);
        if (FAILED(hr)) return hr;
        hr = library->GetTypeInfoOfGuid(IID_IAccessible, info);
        library->Release();
        return hr;
    }

    LONG refs_ = 1;
    ExposedRef exposed_;
    IAccessible* standard_;
};

// The object answer to WM_GETOBJECT, or 0 to leave the question to the control.
LRESULT ClientObject(Exposed* exposed, WPARAM wp) {
    const OleFunctions& ole = Ole();
    if (!ole.complete) return 0;
    IAccessible* standard = nullptr;
    if (FAILED(ole.createStdAccessibleObject(exposed->hwnd, OBJID_CLIENT, IID_IAccessible,
                                         reinterpret_cast<void**>(&standard))) ||
        !standard)
        return 0;
    auto* proxy = new (std::nothrow) AccessibleProxy(exposed, standard);
    if (!proxy) {
        standard->Release();
        return 0;
    }
    LRESULT result = ole.lresultFromObject(IID_IAccessible, wp, static_cast<IAccessible*>(proxy));
    // Marshalling the object to the screen reader's process needs a COM
    // apartment on this thread. The input method's start-up usually made one
    // already; otherwise the thread enters one here, once, and leaves it at
    // exit (EndAccessibility).
    if (result == static_cast<LRESULT>(CO_E_NOTINITIALIZED) &&
        SUCCEEDED(ole.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        if (comEntered)
            ole.coUninitialize();  // someone left ours: keep one entry, not one per question
        comEntered = true;
        result = ole.lresultFromObject(IID_IAccessible, wp, static_cast<IAccessible*>(proxy));
    }
    proxy->Release();
    return result > 0 ? result : 0;  // a failure comes back as a negative HRESULT
}

// The control's subclass: its original procedure and one reference to its
// record, kept in the control's user data (a button or label keeps none of
// its own there). Through the window procedure rather than SetWindowSubclass,
// which would load the common controls library at start.
struct Subclass {
    WNDPROC original;
    Exposed* exposed;
};

LRESULT CALLBACK ExposedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* subclass = reinterpret_cast<Subclass*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!subclass) return DefWindowProcW(hwnd, msg, wp, lp);
    const WNDPROC original = subclass->original;
    switch (msg) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(lp) == OBJID_CLIENT) {
            if (const LRESULT object = ClientObject(subclass->exposed, wp)) return object;
        }
        break;
    case WM_NCDESTROY:
        // Wrappers still held by screen readers keep name and role, and from
        // now on report the standard state and value.
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        subclass->exposed->info.source = nullptr;
        subclass->exposed->Release();
        delete subclass;
        break;
    }
    return CallWindowProcW(original, hwnd, msg, wp, lp);
}

}  // namespace

void ExposeAccessible(HWND control, AccessibleInfo info) {
    if (!control) return;
    auto* exposed = new Exposed(control, info);
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC)) == ExposedProc) {
        auto* subclass = reinterpret_cast<Subclass*>(GetWindowLongPtrW(control, GWLP_USERDATA));
        subclass->exposed->info.source = nullptr;
        subclass->exposed->Release();
        subclass->exposed = exposed;
        return;
    }
    auto* subclass = new Subclass{reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC)), exposed};
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(subclass));
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ExposedProc));
}

void EndAccessibility() {
    if (!comEntered) return;
    comEntered = false;
    Ole().coUninitialize();
}

void AccessibleStateChanged(HWND control) {
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

void AccessibleValueChanged(HWND control) {
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace vimbrel
