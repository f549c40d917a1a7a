// The keyboard window: creation of the window and its controls, and the
// window procedure that turns Windows messages into the core's events.
#include "platform/win32/keyboard_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "assets/finger_hot_spots.h"
#include "assets/resource_ids.h"
#include "layout/accessible_names.h"
#include "layout/twips.h"
#include "platform/control_ids.h"
#include "platform/win32/accessible.h"
#include "platform/win32/instrument.h"
#include "window/controls.h"
#include "window/messages.h"

namespace vimbrel {

static_assert(sizeof(wchar_t) == 2, "the core's UTF-16 text is handed to the W functions as is");

namespace {

constexpr wchar_t kClassName[] = L"ScreenKeyboard";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

const wchar_t* Wide(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
std::wstring WideString(std::u16string_view s) { return std::wstring(Wide(s), s.size()); }

// GetDpiForWindow and AdjustWindowRectExForDpi exist only from Windows 10 on.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
template <typename Fn>
Fn User32Function(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi() {
    const int dpi = GetDeviceCaps(WindowDc(nullptr).get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

RECT OuterRect(int clientLeft, int clientTop, int clientWidth, int clientHeight, int dpi) {
    RECT rc{clientLeft, clientTop, clientLeft + clientWidth, clientTop + clientHeight};
    if (auto adjust = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi"))
        adjust(&rc, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&rc, kWindowStyle, FALSE, 0);
    return rc;
}

// A hot spot of a pointer image drawn at kPointerImageSize pixels, on the
// image scaled to `size`: the middle of the pixel it names, scaled.
int ScaleHotSpot(int at, int size) { return (2 * at + 1) * size / (2 * kPointerImageSize); }

// The keys are worked by the pointer alone. A key message reaching a key button
// would make the button click itself: the keyboard's own Space, landing on the
// focused Space key while the keyboard is in front, types another Space, for
// ever. So no key message, whoever sent it, reaches the buttons' procedure.
// A new caption is stored as any window stores its text, and the key drawn
// with the next paint instead of at once: a Shift click rewrites 58 captions.
// Subclassed through the window procedure, not SetWindowSubclass: that would
// load the common controls library at start, which costs the keyboard a
// sixth more memory and start-up time under Wine. Every key is a BUTTON, so
// one original procedure serves them all.
WNDPROC buttonProc = nullptr;

LRESULT CALLBACK KeyButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) return 0;
    if (msg == WM_SETTEXT) {
        const LRESULT stored = DefWindowProcW(hwnd, msg, wp, lp);
        InvalidateRect(hwnd, nullptr, FALSE);
        return stored;
    }
    return CallWindowProcW(buttonProc, hwnd, msg, wp, lp);
}

}  // namespace

KeyboardWindow::KeyboardWindow(HINSTANCE instance) : instance_(instance) {}

KeyboardWindow::~KeyboardWindow() {
    tooltip_.reset();
    if (hwnd_) DestroyWindow(hwnd_);
}

bool KeyboardWindow::Create() {
    moveCursor_ = LoadCursorW(nullptr, IDC_SIZEALL);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_VIMBREL));
    wc.hCursor = moveCursor_;
    // The class owns its background brush: the system deletes it with the class.
    wc.hbrBackground = CreateSolidBrush(kSilver);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return false;

    dpi_ = SystemDpi();
    const RECT outer = OuterRect(TwipsToPixels(kDesignClientLeft, dpi_), TwipsToPixels(kDesignClientTop, dpi_),
                                 TwipsToPixels(kClientWidth, dpi_), TwipsToPixels(kClientHeight, dpi_), dpi_);
    // WS_EX_APPWINDOW: a window that is never activated has no taskbar button
    // without it, and the keyboard minimised by 最新版本 must be found again.
    hwnd_ = CreateWindowExW(WS_EX_APPWINDOW, kClassName, Wide(kWindowTitle), kWindowStyle, outer.left, outer.top,
                            outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance_, this);
    if (!hwnd_) return false;
    // Under per-monitor awareness the window's own monitor decides.
    if (const int dpi = WindowDpi(); dpi != dpi_) {
        dpi_ = dpi;
        const RECT rc = OuterRect(outer.left, outer.top, TwipsToPixels(kClientWidth, dpi_),
                                  TwipsToPixels(kClientHeight, dpi_), dpi_);
        SetWindowPos(hwnd_, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    CreateFont();
    CreateControls();

    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    // Command ids are the rows of the menu table plus one: 0 means nothing was chosen.
    for (std::size_t row = 0; row < kMenuItems.size(); ++row)
        AppendMenuW(popup, MF_STRING, row + 1, WideString(kMenuItems[row].caption).c_str());
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), WideString(kMenuRootCaption).c_str());
    SetMenuDefaultItem(popup, kDefaultMenuItem + 1, FALSE);
    menu_.reset(bar);  // never attached to the window: the root stays hidden

    // Every key of every keyboard, whichever application has the focus: a key
    // held on the physical keyboard shows on the keyboard.
    const RAWINPUTDEVICE keyboards{0x01, 0x06, RIDEV_INPUTSINK, hwnd_};
    RegisterRawInputDevices(&keyboards, 1, sizeof keyboards);

    keyboard_.Form_Load();
    return true;
}

int KeyboardWindow::WindowDpi() const {
    if (auto get = User32Function<GetDpiForWindowFn>("GetDpiForWindow")) {
        const UINT dpi = get(hwnd_);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

void KeyboardWindow::RestoreRunningCopy() {
    HWND running = FindWindowW(kClassName, nullptr);
    // Asynchronous: a keyboard that does not answer cannot hold up the second copy.
    if (running && IsIconic(running)) ShowWindowAsync(running, SW_SHOWNOACTIVATE);
}

void KeyboardWindow::CreateFont() {
    fontHeight_ = MulDiv(9, dpi_, 72);
    font_ = MakeFont(fontHeight_);
    captionFonts_.clear();
}

UniqueGdiObject KeyboardWindow::MakeFont(int pixelHeight) const {
    LOGFONTW lf{};
    lf.lfHeight = -pixelHeight;
    lf.lfWeight = FW_NORMAL;
    // No face named: the font mapper's own choice for Simplified Chinese, the
    // system's default font for that script (under Wine, a CJK font it finds).
    // Enumerating candidate faces instead costs tens of milliseconds at start.
    lf.lfCharSet = GB2312_CHARSET;
    lf.lfQuality = CLEARTYPE_QUALITY;
    return UniqueGdiObject(CreateFontIndirectW(&lf));
}

// Children are created in tab-index order, so that their z-order is the focus order.
void KeyboardWindow::CreateControls() {
    struct Entry {
        int tabIndex;
        int key;    // row in kKeys, or -1
        int label;  // row in kLabels, or -1
    };
    std::vector<Entry> order;
    for (std::size_t row = 0; row < kKeys.size(); ++row) order.push_back({kKeys[row].tabIndex, int(row), -1});
    for (std::size_t i = 0; i < kLabels.size(); ++i) order.push_back({kLabels[i].tabIndex, -1, int(i)});
    std::sort(order.begin(), order.end(), [](const Entry& a, const Entry& b) { return a.tabIndex < b.tabIndex; });

    for (const Entry& e : order) {
        HWND child;
        if (e.key >= 0) {
            const KeyDef& k = kKeys[e.key];
            // The window text is what automation reads; the face is drawn from the core's caption.
            child = CreateWindowExW(0, L"BUTTON", WideString(keyboard_.States().Key(e.key).caption).c_str(),
                                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW | BS_NOTIFY, 0, 0, 0, 0, hwnd_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(KeyControlId(k.key))), instance_,
                                    nullptr);
            keyWindows_[e.key] = child;
            buttonProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(KeyButtonProc)));
        } else {
            const LabelDef& l = kLabels[e.label];
            // SS_NOTIFY: a click on a label lands on the label, not on the background below it.
            child = CreateWindowExW(0, L"STATIC", WideString(l.caption).c_str(),
                                    WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOTIFY | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstLabelId + e.label)),
                                    instance_, nullptr);
            labelWindows_[e.label] = child;
        }
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    }
    LayOut();

    // Screen readers hear a key's full name, not its two-line caption, and a light's state.
    // A key that stays down (a lock or a latch) is a push button shown pressed,
    // as Windows presents toggle buttons.
    for (std::size_t row = 0; row < kKeys.size(); ++row)
        ExposeAccessible(keyWindows_[row], {AccessibleName(kKeys[row].key), ROLE_SYSTEM_PUSHBUTTON, this});
    for (std::size_t i = 0; i < kLabels.size(); ++i) {
        if (kLabels[i].isLight)
            ExposeAccessible(labelWindows_[i], {LightAccessibleName(kLabels[i].light), ROLE_SYSTEM_INDICATOR, this});
    }
}

long KeyboardWindow::ExtraState(HWND control) const {
    if (const int row = RowOf(control); row >= 0)
        return KeyHeld(kKeys[row].key.control, keyboard_.States().Key(row).colour) ? STATE_SYSTEM_PRESSED : 0L;
    if (const int i = LabelIndex(control); i >= 0 && kLabels[i].isLight)
        return LightLit(keyboard_.States().LightColour(kLabels[i].light)) ? STATE_SYSTEM_CHECKED : 0L;
    return 0;
}

std::u16string_view KeyboardWindow::Value(HWND control) const {
    const int i = LabelIndex(control);
    return i >= 0 && kLabels[i].isLight ? LightValue(LightLit(keyboard_.States().LightColour(kLabels[i].light)))
                                        : std::u16string_view{};
}

int KeyboardWindow::LabelIndex(HWND control) const {
    for (std::size_t i = 0; i < labelWindows_.size(); ++i)
        if (control && labelWindows_[i] == control) return static_cast<int>(i);
    return -1;
}

void KeyboardWindow::LayOut() {
    auto place = [this](HWND child, Twips left, Twips top, Twips width, Twips height) {
        const PixelRect r = ToPixels(left, top, width, height, dpi_);
        SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    for (std::size_t row = 0; row < kKeys.size(); ++row) {
        const KeyDef& k = kKeys[row];
        place(keyWindows_[row], k.left, k.top, k.width, k.height);
    }
    for (std::size_t i = 0; i < kLabels.size(); ++i) {
        const LabelDef& l = kLabels[i];
        place(labelWindows_[i], l.left, l.top, l.width, l.height);
    }
}

// Created when the pointer first rests on a key, not at start: the common
// controls library is loaded then, so a keyboard nobody hovers never pays for it.
// Created after the window went topmost in any case: Wine drops WS_EX_TOPMOST
// from a window whose tooltip was created before that.
void KeyboardWindow::CreateTooltips() {
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = comctl ? reinterpret_cast<InitFn>(
                                 reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")))
                           : nullptr) {
        const INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
        init(&icc);
    }
    tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   instance_, nullptr));
    // The tooltips name keys in Chinese too: the system's tooltip font may have no CJK glyphs.
    SendMessageW(tooltip_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    for (std::size_t row = 0; row < kKeys.size(); ++row) {
        std::wstring text = WideString(kKeys[row].tooltip);
        TTTOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every version of the library
        ti.uFlags = TTF_IDISHWND;  // mouse messages come from RelayToTooltip
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(keyWindows_[row]);
        ti.lpszText = text.data();  // copied by the control
        SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

// The pointer images are icons without a hot spot. The hot spot goes on the
// red tip of the marked finger, the point that strikes the key, as the
// generator of the images wrote it down. Each is made
// the first time a key of its finger is pointed at, at the size the system
// gives pointers at the window's DPI.
HCURSOR KeyboardWindow::FingerCursor(Finger finger) {
    const auto i = static_cast<std::size_t>(finger);
    if (fingerCursors_[i]) return fingerCursors_[i];
    fingerCursors_[i] = LoadCursorW(nullptr, IDC_ARROW);
    const int size = PointerSize();
    HICON icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_FINGER_FIRST + static_cast<int>(i)),
                                               IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (!icon) return fingerCursors_[i];
    ICONINFO info{};
    if (GetIconInfo(icon, &info)) {
        info.fIcon = FALSE;
        info.xHotspot = static_cast<DWORD>(ScaleHotSpot(kFingerHotSpots[i].x, size));
        info.yHotspot = static_cast<DWORD>(ScaleHotSpot(kFingerHotSpots[i].y, size));
        ownedCursors_[i].reset(CreateIconIndirect(&info));
        if (ownedCursors_[i]) fingerCursors_[i] = ownedCursors_[i].get();
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
    DestroyIcon(icon);
    return fingerCursors_[i];
}

// GetSystemMetricsForDpi exists only from Windows 10 on; before, pointers have
// the system DPI's size.
int KeyboardWindow::PointerSize() const {
    using MetricsForDpiFn = int(WINAPI*)(int, UINT);
    int size = 0;
    if (auto metrics = User32Function<MetricsForDpiFn>("GetSystemMetricsForDpi"))
        size = metrics(SM_CXCURSOR, static_cast<UINT>(dpi_));
    if (size <= 0) size = GetSystemMetrics(SM_CXCURSOR);
    return size > 0 ? size : 32;
}

// The tooltip sees the pointer's moves, and a press only while it is showing.
// Letting it watch every message of every key (TTF_SUBCLASS) puts its work
// between a click and the key event that the click sends.
void KeyboardWindow::RelayToTooltip(const MSG& msg) const {
    if (!tooltip_) return;
    const bool move = msg.message == WM_MOUSEMOVE;
    const bool press = msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN ||
                       msg.message == WM_MBUTTONDOWN;
    if (!move && !(press && IsWindowVisible(tooltip_.get()))) return;
    if (msg.hwnd != hwnd_ && GetParent(msg.hwnd) != hwnd_) return;
    SendMessageW(tooltip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

int KeyboardWindow::RowOf(KeyRef key) const { return KeyRow(key); }

int KeyboardWindow::RowOf(HWND control) const {
    if (!control || GetParent(control) != hwnd_) return -1;
    const int id = GetDlgCtrlID(control);
    return IsKeyControlId(id) ? KeyRow(KeyFromControlId(id)) : -1;
}

LRESULT CALLBACK KeyboardWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<KeyboardWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<KeyboardWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->HandleMessage(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT KeyboardWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:         return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
    case WM_DRAWITEM:        return OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
    case WM_CTLCOLORSTATIC:  return OnCtlColorStatic(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    case WM_SETCURSOR:       return OnSetCursor(reinterpret_cast<HWND>(wp), LOWORD(lp));
    // Clicks must never activate the keyboard: the application being typed into keeps the focus.
    case WM_MOUSEACTIVATE:   return MA_NOACTIVATE;
    case WM_PAINT:           return OnPaint();
    case WM_INPUT:
        OnRawInput(reinterpret_cast<HRAWINPUT>(lp));
        break;  // the system frees the input
    case WM_MOUSEMOVE:       keyboard_.Form_MouseMove(); return 0;
    case WM_LBUTTONDOWN:     keyboard_.Form_MouseDown(1); return 0;
    case WM_RBUTTONDOWN:     keyboard_.Form_MouseDown(2); return 0;
    case WM_MBUTTONDOWN:     keyboard_.Form_MouseDown(4); return 0;
    case WM_NCLBUTTONDOWN:   return OnNcLButtonDown(wp, lp);
    case WM_DPICHANGED:      return OnDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wp && !unloaded_) {
            unloaded_ = true;
            keyboard_.Form_Unload();
        }
        return 0;
    case WM_DESTROY:
        if (!unloaded_) {
            unloaded_ = true;
            keyboard_.Form_Unload();
        }
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        tooltip_.reset();  // closed by its owner, not left to the system
        break;
    case WM_NCDESTROY: {
        // The last message: from here on the window is gone and this object no
        // longer hears of it. Any tooltip still held went with it, as owned windows do.
        tooltip_.release();
        const HWND gone = std::exchange(hwnd_, nullptr);
        SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
        return DefWindowProcW(gone, msg, wp, lp);
    }
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT KeyboardWindow::OnCommand(int id, int code, HWND control) {
    VIMBREL_TIME_COMMAND(id, code);
    // Only our own keys: a WM_COMMAND made up by another program types nothing.
    if (!IsKeyControlId(id) || RowOf(control) < 0 || GetDlgCtrlID(control) != id) return 0;
    const KeyRef key = KeyFromControlId(id);
    switch (code) {
    // An owner-drawn button reports the second of two quick clicks only as BN_DBLCLK.
    case BN_CLICKED:
    case BN_DBLCLK:    keyboard_.Click(key); break;
    case BN_SETFOCUS:  keyboard_.GotFocus(key); break;
    case BN_KILLFOCUS: keyboard_.LostFocus(key); break;
    }
    return 0;
}

LRESULT KeyboardWindow::OnCtlColorStatic(HDC dc, HWND label) {
    const int i = LabelIndex(label);
    const Colour text = i < 0 ? kWhite : keyboard_.States().LabelColour(kLabels[i]);
    SetTextColor(dc, text);
    SetBkColor(dc, kSilver);
    return reinterpret_cast<LRESULT>(brushes_.For(kSilver));
}

LRESULT KeyboardWindow::OnSetCursor(HWND under, int hitTest) {
    if (hitTest != HTCLIENT) return DefWindowProcW(hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), hitTest);
    const int row = RowOf(under);
    if (row >= 0 && !tooltip_) CreateTooltips();
    SetCursor(row >= 0 ? FingerCursor(kKeys[row].finger) : moveCursor_);
    return TRUE;
}

LRESULT KeyboardWindow::OnPaint() {
    { PaintDc paint(hwnd_); }
    // A minimised window has no background to draw; restoring paints again.
    if (!IsIconic(hwnd_) && !keepPlace_) keyboard_.Form_Paint();
    return 0;
}

// The default handling of a press on the title bar activates the window before
// it starts the move, which would take the focus from the application being
// typed into. The move itself, started directly, activates nothing.
LRESULT KeyboardWindow::OnNcLButtonDown(WPARAM wp, LPARAM lp) {
    if (wp != HTCAPTION) return DefWindowProcW(hwnd_, WM_NCLBUTTONDOWN, wp, lp);
    POINT pt{};
    GetCursorPos(&pt);
    SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, MAKELPARAM(pt.x, pt.y));
    return 0;
}

LRESULT KeyboardWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    UniqueGdiObject oldFont = std::move(font_);  // still selected by the controls until they get the new one
    CreateFont();
    // Pointers of the new size from the next one shown; the one showing now stays valid.
    for (std::size_t i = 0; i < fingerCursors_.size(); ++i) {
        if (ownedCursors_[i]) retiredCursors_.push_back(std::move(ownedCursors_[i]));
        fingerCursors_[i] = nullptr;
    }
    for (HWND child : keyWindows_) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    for (HWND child : labelWindows_) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (tooltip_) SendMessageW(tooltip_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    const RECT rc = OuterRect(suggested.left, suggested.top, TwipsToPixels(kClientWidth, dpi_),
                              TwipsToPixels(kClientHeight, dpi_), dpi_);
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut();
    // Drawn again at once, where the system put it: this paint does not send the
    // window back to the bottom centre of the first monitor.
    keepPlace_ = true;
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    keepPlace_ = false;
    return 0;
}

}  // namespace vimbrel
