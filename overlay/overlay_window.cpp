#include "overlay_window.h"

#include <string_view>

#include <algorithm>
#include <cwchar>

#include "device/module_of.h"

namespace overlay {

namespace {

// Posted to the panel's window: the shared state changed; and: end the thread.
constexpr UINT WakeMessage = WM_APP + 1;
constexpr UINT StopMessage = WM_APP + 2;
constexpr UINT_PTR RedrawTimer = 1;
// Not in the headers the program builds against (it targets Windows 7).
constexpr UINT DpiChangedMessage = 0x02E0;
// The panel's distance from the work area's edges, in pixels at 96 DPI.
constexpr float MarginPixels = 12.0F;

using SetThreadDpiContextFn = HANDLE(WINAPI*)(HANDLE);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// Per-monitor DPI awareness for this thread, where the system has the call (Windows 10 1607 and
// later): v2, else v1.
void BecomeDpiAware() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) {
        return;
    }
    const auto set = reinterpret_cast<SetThreadDpiContextFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    if (set == nullptr) {
        return;
    }
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and _PER_MONITOR_AWARE: handles that are
    // small negative numbers.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the system defines these handles as integers
    if (set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) == nullptr) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): as above
        set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)));
    }
}

float ScaleOf(HWND window) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto get = user32 == nullptr
                         ? nullptr
                         : reinterpret_cast<GetDpiForWindowFn>(
                               reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
    UINT dpi = get != nullptr ? get(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = screen != nullptr ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY)) : 96;
        if (screen != nullptr) {
            ReleaseDC(nullptr, screen);
        }
    }
    return dpi == 0 ? 1.0F : static_cast<float>(dpi) / 96.0F;
}

HINSTANCE ThisModule() {
    return ModuleOf(&ThisModule);
}

int Fraction(LONG value, LONG lo, LONG hi) {
    const long long span = static_cast<long long>(hi) - lo;
    if (span <= 0) {
        return 0;
    }
    const long long f = (static_cast<long long>(value) - lo) * 255 / span;
    return static_cast<int>(std::clamp<long long>(f, 0, 255));
}

} // namespace

uint32_t PackDrawn(const PanelLayout& layout, const PanelState& state) {
    const auto index = [](const std::optional<size_t>& zone) {
        return zone ? static_cast<uint32_t>(*zone + 1) & 0xfU : 0U;
    };
    uint32_t packed = 1U;
    packed |= state.touching ? 2U : 0U;
    packed |= state.stepFlash > 0 ? 4U : 0U;
    packed |= index(state.under) << 4;
    packed |= index(state.flashZone) << 8;
    packed |= static_cast<uint32_t>(Fraction(state.x, layout.pad.left, layout.pad.right)) << 12;
    packed |= static_cast<uint32_t>(Fraction(state.y, layout.pad.top, layout.pad.bottom)) << 20;
    return packed;
}

DrawnSummary UnpackDrawn(uint32_t packed) {
    DrawnSummary drawn;
    drawn.shown = (packed & 1U) != 0;
    if (!drawn.shown) {
        return drawn;
    }
    drawn.touching = (packed & 2U) != 0;
    drawn.stepping = (packed & 4U) != 0;
    const uint32_t under = (packed >> 4) & 0xfU;
    const uint32_t flash = (packed >> 8) & 0xfU;
    if (under != 0) {
        drawn.under = under - 1;
    }
    if (flash != 0) {
        drawn.flashZone = flash - 1;
    }
    drawn.across = static_cast<int>((packed >> 12) & 0xffU);
    drawn.up = static_cast<int>((packed >> 20) & 0xffU);
    return drawn;
}

Overlay::Overlay(const OverlaySettings& panelSettings)
    : settings(panelSettings), ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!ready) {
        return;
    }
    thread = UniqueHandle(CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId));
    if (!thread) {
        SetEvent(ready.Get());
    }
}

Overlay::~Overlay() {
    stopping.store(true);
    // Either the window is there and takes the message, or the thread sees `stopping` once it
    // has made it (both sides use sequentially consistent atomics).
    HWND made = window.load();
    if (made != nullptr) {
        PostMessageW(made, StopMessage, 0, 0);
    }
    if (thread) {
        WaitForSingleObject(thread.Get(), INFINITE);
    }
}

HWND Overlay::WaitForWindow(DWORD timeoutMs) const {
    if (ready) {
        WaitForSingleObject(ready.Get(), timeoutMs);
    }
    return window.load();
}

void Overlay::Show(const PanelLayout& layout) {
    AcquireSRWLockExclusive(&lock);
    shared.visible = true;
    shared.layout = layout;
    shared.tracker.emplace(layout);
    ++shared.layoutGeneration;
    ReleaseSRWLockExclusive(&lock);
    Wake();
}

void Overlay::Hide() {
    AcquireSRWLockExclusive(&lock);
    shared.visible = false;
    ReleaseSRWLockExclusive(&lock);
    Wake();
}

void Overlay::Update(const PacketView& packet) {
    const DWORD now = GetTickCount();
    AcquireSRWLockExclusive(&lock);
    const bool changed = shared.visible && shared.tracker && shared.tracker->OnPacket(packet, now);
    ReleaseSRWLockExclusive(&lock);
    if (changed) {
        Wake();
    }
}

void Overlay::Wake() {
    AcquireSRWLockExclusive(&lock);
    const bool post = !shared.pending;
    shared.pending = true;
    ReleaseSRWLockExclusive(&lock);
    HWND target = window.load();
    if (post && target != nullptr) {
        PostMessageW(target, WakeMessage, 0, 0);
    }
}

DWORD WINAPI Overlay::ThreadMain(void* self) {
    static_cast<Overlay*>(self)->Run();
    return 0;
}

void Overlay::Run() {
    BecomeDpiAware();
    HINSTANCE instance = ThisModule();
    // Named after the window procedure's address: a copy of the library loaded again at another
    // address registers a class of its own.
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"%ls%p", WindowClassPrefix, reinterpret_cast<void*>(&WndProc));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = name;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RegisterClassExW(&wc); // fails harmlessly when an earlier panel registered it
    HWND made = CreateWindowExW(
        WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW,
        name, L"Tapdeck panel", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, this);
    window.store(made);
    SetEvent(ready.Get());
    if (made == nullptr) {
        return;
    }
    // Changes made before the window existed found nobody to wake.
    AcquireSRWLockExclusive(&lock);
    const bool missed = shared.pending;
    ReleaseSRWLockExclusive(&lock);
    if (stopping.load()) {
        DestroyWindow(made);
    } else if (missed) {
        PostMessageW(made, WakeMessage, 0, 0);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    window.store(nullptr);
}

LRESULT CALLBACK Overlay::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the Overlay stored at WM_NCCREATE
    auto* self = reinterpret_cast<Overlay*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    switch (message) {
    case WakeMessage:
    case WM_TIMER:
        self->Refresh();
        return 0;
    case StopMessage:
        DestroyWindow(hwnd);
        return 0;
    case WM_DISPLAYCHANGE:
    case DpiChangedMessage:
        self->placed = false;
        self->Refresh();
        return 0;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETWORKAREA) {
            self->placed = false;
            self->Refresh();
        }
        return 0;
    case QueryMessage:
        return static_cast<LRESULT>(self->drawnSummary.load());
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_DESTROY:
        if (self->timerOn) {
            KillTimer(hwnd, RedrawTimer);
        }
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void Overlay::Refresh() {
    HWND hwnd = window.load();
    const DWORD now = GetTickCount();
    // `pending` stays set while the timer runs: the timer picks up the changes that come
    // meanwhile, with no message posted for each. It is cleared only under the same lock that
    // finds nothing more to draw, so no change is left behind.
    const auto stopTimer = [&] {
        if (timerOn) {
            KillTimer(hwnd, RedrawTimer);
            timerOn = false;
        }
    };
    const auto startTimer = [&] {
        if (!timerOn) {
            SetTimer(hwnd, RedrawTimer, RedrawMs, nullptr);
            timerOn = true;
        }
    };
    AcquireSRWLockExclusive(&lock);
    const bool visible = shared.visible && shared.tracker.has_value();
    const unsigned generation = shared.layoutGeneration;
    const PanelState state = visible ? shared.tracker->StateAt(now) : PanelState{};
    const bool changed = visible && (!shown || !placed || generation != drawnGeneration ||
                                     !drawnState || !(*drawnState == state));
    if (!changed) {
        shared.pending = false;
    }
    const PanelLayout layout = changed ? shared.layout : PanelLayout{};
    ReleaseSRWLockExclusive(&lock);

    if (!visible) {
        stopTimer();
        HideWindow();
        return;
    }
    if (!changed) {
        stopTimer();
        return;
    }
    if (shown && placed && now - lastDrawAt < RedrawMs) {
        startTimer(); // too soon after the last redraw: at the next tick
        return;
    }
    if (!placed) {
        Place();
    }
    drawingGeneration = generation;
    if (!Draw(layout, state)) {
        // Nothing to draw into: no retrying at each tick; the next change tries again.
        stopTimer();
        AcquireSRWLockExclusive(&lock);
        shared.pending = false;
        ReleaseSRWLockExclusive(&lock);
        return;
    }
    drawnGeneration = generation;
    drawnState = state;
    lastDrawAt = now;
    drawnSummary.store(PackDrawn(layout, state));
    if (!shown) {
        ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        shown = true;
    }
    // Looks again at the next tick: more moves, a fading flash, or nothing (and then stops).
    startTimer();
}

void Overlay::Place() {
    HWND hwnd = window.load();
    dpiScale = ScaleOf(hwnd);
    RECT work{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) == FALSE) {
        work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    AcquireSRWLockShared(&lock);
    const RECT pad = shared.layout.pad;
    ReleaseSRWLockShared(&lock);
    placement = PlacePanel(work, pad, settings, static_cast<int>(MarginPixels * dpiScale));
    placed = true;
}

bool Overlay::Draw(const PanelLayout& layout, const PanelState& state) {
    const int width = placement.right - placement.left;
    const int height = placement.bottom - placement.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    if (!bitmap || bitmap.Width() != width || bitmap.Height() != height) {
        bitmap = PanelBitmap(width, height);
        painter.reset();
        if (!bitmap) {
            return false;
        }
    }
    if (!painter || painterGeneration != drawingGeneration || !painter->Fits(bitmap, dpiScale)) {
        painter.emplace(layout, width, height, RenderOptions{dpiScale, true});
        painterGeneration = drawingGeneration;
    }
    painter->Paint(state, bitmap);
    POINT position{placement.left, placement.top};
    SIZE size{width, height};
    POINT origin{0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(settings.opacityPercent * 255 / 100),
                           0};
    // Only the pixels that changed are handed over, except when the window moved or resized.
    const RECT changed = painter->Changed();
    const bool whole = !drawnOnce || !EqualRect(&placement, &drawnAt);
    UPDATELAYEREDWINDOWINFO info = {};
    info.cbSize = sizeof info;
    info.pptDst = &position;
    info.psize = &size;
    info.hdcSrc = bitmap.Dc();
    info.pptSrc = &origin;
    info.pblend = &blend;
    info.dwFlags = ULW_ALPHA;
    info.prcDirty = whole ? nullptr : &changed;
    const BOOL updated = UpdateLayeredWindowIndirect(window.load(), &info);
    drawnOnce = updated != FALSE;
    drawnAt = placement;
    redraws.fetch_add(1);
    return updated != FALSE;
}

void Overlay::HideWindow() {
    if (shown) {
        ShowWindow(window.load(), SW_HIDE);
        shown = false;
    }
    drawnState.reset();
    drawnSummary.store(0);
}

namespace {

struct PanelSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindPanelIn(HWND window, LPARAM param) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumWindows hands back the search it was given
    auto* search = reinterpret_cast<PanelSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == search->processId &&
        std::wstring_view(name).substr(0, std::size(WindowClassPrefix) - 1) == WindowClassPrefix) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindPanelWindow(DWORD processId) {
    PanelSearch search{processId, nullptr};
    EnumWindows(FindPanelIn, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace overlay
