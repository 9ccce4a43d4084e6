#include "platform/win32/Win32StatusWindow.h"

#include "platform/Platform.h"
#include "platform/win32/WinApi.h"
// After windows.h.
#include <commctrl.h>

namespace qb::platform {

namespace {

constexpr char kClassName[] = "GleanwickStatusWindow";
constexpr char kCaption[] = "Quellbox Tessaly";
constexpr int kListId = 100;
constexpr int kOkId = IDOK;  // Enter on the window presses OK

// The window's measures in twips (1/1440 inch).
constexpr int kClientWidth = 4680, kClientHeight = 2775;
constexpr int kListLeft = 120, kListTop = 240, kListWidth = 4335, kListHeight = 1815;
constexpr int kOkLeft = 1560, kOkTop = 2280, kOkWidth = 1575, kOkHeight = 375;

int TwipsToPixels(int twips, int dpi) {
    return ::MulDiv(twips, dpi, 1440);
}

// Loads the common controls, so that under the program's manifest (which
// asks for common controls 6) the list box and button are drawn in the
// system's current visual style. Version 6 registers the standard classes
// for that; an older comctl32 (no manifest in force) does not know the flag,
// and then the classic initialisation is enough.
void InitControls() {
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof init;
    init.dwICC = ICC_STANDARD_CLASSES;
    if (!::InitCommonControlsEx(&init))
        ::InitCommonControls();
}

}  // namespace

StatusLayout StatusLayout::AtDpi(int dpiX, int dpiY) {
    StatusLayout l;
    l.client = {0, 0, TwipsToPixels(kClientWidth, dpiX), TwipsToPixels(kClientHeight, dpiY)};
    l.list = {TwipsToPixels(kListLeft, dpiX), TwipsToPixels(kListTop, dpiY),
              TwipsToPixels(kListWidth, dpiX), TwipsToPixels(kListHeight, dpiY)};
    l.button = {TwipsToPixels(kOkLeft, dpiX), TwipsToPixels(kOkTop, dpiY),
                TwipsToPixels(kOkWidth, dpiX), TwipsToPixels(kOkHeight, dpiY)};
    return l;
}

struct Win32StatusWindow::State {
    HWND window = nullptr;
    HWND list = nullptr;
    HWND ok = nullptr;
    bool runOver = false;  // WaitForOk has been called
};

namespace {

LRESULT CALLBACK StatusProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state =
        reinterpret_cast<Win32StatusWindow::State*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            break;
        }
        case WM_COMMAND:
            // OK, by click, Enter or space, only while the button is enabled.
            if (state && LOWORD(wParam) == kOkId && state->ok && ::IsWindowEnabled(state->ok)) {
                ::DestroyWindow(hwnd);
                return 0;
            }
            break;
        case WM_CLOSE:
            // The close box, Alt+F4 or the system menu: at any time.
            ::DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            if (state) {
                state->window = nullptr;
                state->list = nullptr;
                state->ok = nullptr;
            }
            return 0;
        default:
            break;
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

HFONT DialogFont() {
    static HFONT font = [] {
        NONCLIENTMETRICSA metrics{};
        metrics.cbSize = sizeof metrics;
        if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            if (HFONT f = ::CreateFontIndirectA(&metrics.lfMessageFont))
                return f;
        return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

// Handles one message: dialog keys (Tab, Enter, Space) first.
void Dispatch(Win32StatusWindow::State& state, MSG& msg) {
    if (state.window && ::IsDialogMessageA(state.window, &msg))
        return;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
}

}  // namespace

Win32StatusWindow::~Win32StatusWindow() {
    Close();
    delete state_;
}

void Win32StatusWindow::Show() {
    if (!state_)
        state_ = new State;
    if (state_->window)
        return;
    InitControls();
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    HICON icon = ::LoadIconA(instance, MAKEINTRESOURCEA(iconResource_));
    if (!icon)
        icon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StatusProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassExA(&wc);  // fails harmlessly when registered before

    HDC screen = ::GetDC(nullptr);
    const int dpiX = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    const StatusLayout layout = StatusLayout::AtDpi(dpiX > 0 ? dpiX : 96, dpiY > 0 ? dpiY : 96);

    // A fixed frame with a caption, close box and minimise button; the
    // client area has the layout's size.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, layout.client.width, layout.client.height};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    HWND window = ::CreateWindowExA(exStyle, kClassName, kCaption, style, left, top, width, height,
                                    nullptr, nullptr, instance, state_);
    if (!window)
        return;
    state_->window = window;
    state_->runOver = false;
    state_->list = ::CreateWindowExA(
        WS_EX_CLIENTEDGE, "LISTBOX", "",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
        layout.list.left, layout.list.top, layout.list.width, layout.list.height, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), instance, nullptr);
    state_->ok = ::CreateWindowExA(
        0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_DEFPUSHBUTTON,
        layout.button.left, layout.button.top, layout.button.width, layout.button.height, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOkId)), instance, nullptr);
    const WPARAM font = reinterpret_cast<WPARAM>(DialogFont());
    if (state_->list)
        ::SendMessageA(state_->list, WM_SETFONT, font, FALSE);
    if (state_->ok)
        ::SendMessageA(state_->ok, WM_SETFONT, font, FALSE);
    ::ShowWindow(window, SW_SHOWNORMAL);
    window_ = window;
}

void Win32StatusWindow::AddLine(const std::string& text) {
    if (!state_ || !state_->list)
        return;
    const LRESULT index =
        ::SendMessageA(state_->list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index >= 0)
        ::SendMessageA(state_->list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32StatusWindow::PumpEvents() {
    if (!state_)
        return;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not this window's to act on: keep it for the program's own loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        Dispatch(*state_, msg);
    }
    if (!state_->window)
        window_ = nullptr;
}

void Win32StatusWindow::WaitForOk(bool okEnabled) {
    if (!state_ || !state_->window) {
        window_ = nullptr;
        return;  // never shown, or closed by its frame during the run
    }
    state_->runOver = true;
    if (okEnabled && state_->ok) {
        ::EnableWindow(state_->ok, TRUE);
        ::SetFocus(state_->ok);
    }
    MSG msg;
    while (state_->window) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;  // WM_QUIT or a broken queue: stop waiting
        Dispatch(*state_, msg);
    }
    Close();
}

void Win32StatusWindow::Close() {
    if (state_ && state_->window)
        ::DestroyWindow(state_->window);
    window_ = nullptr;
}

StatusWindow& DefaultStatusWindow() {
    static Win32StatusWindow window;
    return window;
}

}  // namespace qb::platform
