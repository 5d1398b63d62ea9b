#include "overlay_window.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string_view>

namespace overlay {

namespace {

// Posted to the panel's window: end the thread.
constexpr UINT StopMessage = WM_APP + 2;
// Not in the headers the program builds against (it targets Windows 7).
constexpr UINT DpiChangedMessage = 0x02E0;
constexpr UINT ColorizationChangedMessage = 0x0320;

using SetThreadDpiContextFn = HANDLE(WINAPI*)(HANDLE);

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

long long Counter() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long CounterFrequency() {
    static const long long frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1000;
    }();
    return frequency;
}

long long Ticks(DWORD ms) {
    return static_cast<long long>(ms) * CounterFrequency() / 1000;
}

int Fraction(LONG value, LONG lo, LONG hi) {
    const long long span = static_cast<long long>(hi) - lo;
    if (span <= 0) {
        return 0;
    }
    const long long f = (static_cast<long long>(value) - lo) * 255 / span;
    return static_cast<int>(std::clamp<long long>(f, 0, 255));
}

BYTE OpacityOf(int percent) {
    return static_cast<BYTE>(std::clamp(percent, 0, 100) * 255 / 100);
}

} // namespace

DWORD PanelNowMs() {
    return static_cast<DWORD>(static_cast<unsigned long long>(
        static_cast<double>(Counter()) * 1000.0 / static_cast<double>(CounterFrequency())));
}

uint32_t PackDrawn(const PanelLayout& layout, const PanelScene& scene, ThemeKind theme, bool idle) {
    const auto index = [](const std::optional<size_t>& zone) {
        return zone ? static_cast<uint32_t>(*zone + 1) & 0xfU : 0U;
    };
    const PanelState& state = scene.state;
    uint32_t packed = 1U;
    packed |= state.touching ? 2U : 0U;
    packed |= state.stepStrength > 0 ? 4U : 0U;
    packed |= idle ? 8U : 0U;
    packed |= index(state.under) << 4;
    packed |= index(state.pressed) << 8;
    packed |= static_cast<uint32_t>(Fraction(state.x, layout.pad.left, layout.pad.right)) << 12;
    packed |= static_cast<uint32_t>(Fraction(state.y, layout.pad.top, layout.pad.bottom)) << 20;
    packed |= (static_cast<uint32_t>(theme) & 3U) << 28;
    packed |= state.caption ? 1U << 30 : 0U;
    packed |= scene.volume ? 1U << 31 : 0U;
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
    drawn.idle = (packed & 8U) != 0;
    const uint32_t under = (packed >> 4) & 0xfU;
    const uint32_t pressed = (packed >> 8) & 0xfU;
    if (under != 0) {
        drawn.under = under - 1;
    }
    if (pressed != 0) {
        drawn.pressed = pressed - 1;
    }
    drawn.across = static_cast<int>((packed >> 12) & 0xffU);
    drawn.up = static_cast<int>((packed >> 20) & 0xffU);
    drawn.theme = static_cast<ThemeKind>((packed >> 28) & 3U);
    drawn.caption = (packed & (1U << 30)) != 0;
    drawn.level = (packed & (1U << 31)) != 0;
    return drawn;
}

bool Overlay::Frame::operator==(const Frame& other) const {
    return form == other.form && fade == other.fade && scene == other.scene &&
           generation == other.generation && lookGeneration == other.lookGeneration &&
           EqualRect(&place, &other.place) != FALSE;
}

Overlay::Overlay(const OverlaySettings& panelSettings)
    : ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)), settings(panelSettings) {
    if (!ready || !wake) {
        if (ready) {
            SetEvent(ready.Get());
        }
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

void Overlay::ObserveFrames(FrameObserver frameObserver, void* context) {
    observer = frameObserver;
    observerContext = context;
}

void Overlay::Show(const PanelLayout& layout) {
    AcquireSRWLockExclusive(&lock);
    shared.visible = true;
    shared.layout = layout;
    shared.tracker.emplace(layout, PanelNowMs());
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
    const DWORD now = PanelNowMs();
    AcquireSRWLockExclusive(&lock);
    ++shared.updates;
    const bool changed = shared.visible && shared.tracker && shared.tracker->OnPacket(packet, now);
    // Sooner than RedrawMs after the last frame, the look the panel's thread takes after each
    // frame (or the next report) draws it.
    const bool post =
        changed && !shared.wakePosted && (!shared.framed || now - shared.lastFrameMs >= RedrawMs);
    shared.wakePosted = shared.wakePosted || post;
    ReleaseSRWLockExclusive(&lock);
    if (post) {
        SetEvent(wake.Get());
    }
}

void Overlay::Wake() {
    AcquireSRWLockExclusive(&lock);
    const bool post = !shared.wakePosted;
    shared.wakePosted = true;
    ReleaseSRWLockExclusive(&lock);
    if (post) {
        SetEvent(wake.Get());
    }
}

void Overlay::WakeFromVolume(void* self) {
    static_cast<Overlay*>(self)->Wake();
}

DWORD WINAPI Overlay::ThreadMain(void* self) {
    static_cast<Overlay*>(self)->Run();
    return 0;
}

void Overlay::Run() {
    BecomeDpiAware();
    // For the audio endpoint's volume, whose notifications come on the system's threads.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        LayeredWindow made(WindowClassPrefix, L"Tapdeck panel", &messages);
        layered = &made;
        window.store(made.Handle());
        SetEvent(ready.Get());
        if (made.Handle() != nullptr && !stopping.load()) {
            Loop();
        }
        window.store(nullptr);
        volume.reset();
        painter.reset();
        layered = nullptr;
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

void Overlay::Loop() {
    for (;;) {
        DWORD timeout = INFINITE;
        if (deadline) {
            const long long left = *deadline - Counter();
            timeout = left <= 0 ? 0
                                : static_cast<DWORD>((left * 1000 + CounterFrequency() - 1) /
                                                     CounterFrequency());
        }
        // One wake-up or one message a turn: the wait returns at once while more are queued,
        // and no empty look at the queue is made.
        HANDLE woken = wake.Get();
        const DWORD got =
            MsgWaitForMultipleObjectsEx(1, &woken, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        if (got == WAIT_OBJECT_0) {
            Refresh();
        } else if (got == WAIT_OBJECT_0 + 1 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (deadline && Counter() >= *deadline) {
            deadline.reset();
            Refresh();
        }
    }
}

LRESULT Overlay::Messages::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case StopMessage:
        PostQuitMessage(0);
        return 0;
    case WM_DISPLAYCHANGE:
    case DpiChangedMessage:
        overlay.placed = false;
        overlay.Refresh();
        return 0;
    case WM_SETTINGCHANGE: {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the setting's name, when there is one
        const auto* name = reinterpret_cast<const wchar_t*>(lParam);
        if (wParam == SPI_SETWORKAREA) {
            overlay.placed = false;
        }
        if (wParam == SPI_SETHIGHCONTRAST ||
            (name != nullptr && std::wcscmp(name, L"ImmersiveColorSet") == 0)) {
            overlay.lookStale = true;
        }
        overlay.Refresh();
        return 0;
    }
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
    case ColorizationChangedMessage:
        overlay.lookStale = true;
        overlay.Refresh();
        return 0;
    case QueryMessage:
        return static_cast<LRESULT>(overlay.drawnSummary.load());
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void Overlay::ReadLook() {
    const Palette read = MakePalette(ReadSystemLook());
    if (!(read == palette) || lookGeneration == 0) {
        palette = read;
        ++lookGeneration;
    }
    lookStale = false;
}

void Overlay::Place(const PanelLayout& layout) {
    screen = ScreenFor(settings.monitor);
    place = PlacePanel(screen.work, layout.pad, settings, screen.scale);
    placed = true;
}

void Overlay::Refresh() {
    if (layered == nullptr) {
        return;
    }
    const long long now = Counter();
    const DWORD nowMs = PanelNowMs();
    Frame frame;
    PanelLayout layout;
    std::optional<DWORD> next;
    std::optional<DWORD> quiet;
    AcquireSRWLockExclusive(&lock);
    shared.wakePosted = false;
    const bool visible = shared.visible && shared.tracker.has_value();
    const unsigned long long updates = shared.updates;
    if (visible) {
        frame.generation = shared.layoutGeneration;
        frame.scene.state = shared.tracker->StateAt(nowMs);
        next = shared.tracker->NextChange(nowMs);
        quiet = shared.tracker->QuietSince(nowMs);
        layout = shared.layout;
    }
    ReleaseSRWLockExclusive(&lock);

    if (!visible) {
        deadline.reset();
        HideWindow();
        return;
    }
    if (lookStale) {
        ReadLook();
    }
    // A new Show, or the panel back from its small form: the monitor is chosen again.
    const bool returning = drawn && drawn->form != Form::Full;
    if (!placed || frame.generation != drawnGeneration || returning) {
        Place(layout);
    }
    if (volume) {
        // The default output may have changed: looked at again at each new Show and at each
        // tap or step (a new caption), when the level matters.
        if (drawn && (frame.generation != drawn->generation ||
                      !(frame.scene.state.caption == drawn->scene.state.caption))) {
            volume->Recheck();
        }
        frame.scene.volume = volume->Level();
    }
    frame.lookGeneration = lookGeneration;
    frame.place = place;

    // Idle: after the setting's seconds without a touch, the fade, then the small form.
    std::optional<long long> idleAt;
    if (settings.idleSeconds > 0 && quiet) {
        const DWORD idleMs = static_cast<DWORD>(settings.idleSeconds) * 1000;
        const DWORD since = nowMs - *quiet;
        if (since < idleMs) {
            idleAt = now + Ticks(idleMs - since);
        } else if (since - idleMs < IdleFadeMs) {
            frame.form = Form::Fading;
            frame.fade = static_cast<float>(since - idleMs) / static_cast<float>(IdleFadeMs);
        } else {
            frame.form = Form::Idle;
            frame.scene = {};
        }
    }

    const auto schedule = [&] {
        // The next frame something fades or ends by itself, or the idle fade begins.
        std::optional<long long> at;
        const auto sooner = [&at](long long t) { at = at ? std::min(*at, t) : t; };
        if (next) {
            const DWORD wait = *next - nowMs;
            sooner(wait == 0 ? lastFrameAt + Ticks(RedrawMs) : now + Ticks(wait));
        }
        if (frame.form == Form::Fading) {
            sooner(lastFrameAt + Ticks(RedrawMs));
        }
        // A last look for what reports brought too soon after the last frame to wake it.
        const long long check = lastFrameAt + Ticks(RedrawMs + LateMs);
        if (drawn && check > now) {
            sooner(check);
        }
        if (idleAt && frame.form == Form::Full) {
            sooner(*idleAt);
        }
        deadline = at;
    };

    if (drawn && *drawn == frame) {
        schedule();
        return;
    }
    if (drawn && now - lastFrameAt < Ticks(RedrawMs)) {
        // Too soon after the last frame: at the next report, or LateMs from now at the latest.
        const long long late = std::max(lastFrameAt + Ticks(RedrawMs), now + Ticks(LateMs));
        deadline = deadline ? std::min(*deadline, late) : late;
        return;
    }
    if (!Present(frame, layout)) {
        // Nothing to draw into: no retrying; the next change tries again.
        deadline.reset();
        return;
    }
    drawn = frame;
    drawnGeneration = frame.generation;
    lastFrameAt = now;
    AcquireSRWLockExclusive(&lock);
    shared.framed = true;
    shared.lastFrameMs = nowMs;
    ReleaseSRWLockExclusive(&lock);
    drawnSummary.store(PackDrawn(layout, frame.scene, palette.kind, frame.form == Form::Idle));
    redraws.fetch_add(1);
    if (observer != nullptr) {
        observer(observerContext, updates, Counter());
    }
    if (!volumeAsked) {
        // After the first frame, so that the panel shows at once.
        volumeAsked = true;
        volume.emplace(WakeFromVolume, this);
    }
    schedule();
}

bool Overlay::Present(const Frame& frame, const PanelLayout& layout) {
    const BYTE opacity = palette.opaque ? BYTE{255} : OpacityOf(settings.opacityPercent);
    if (frame.form == Form::Idle) {
        const int size = IdleCanvasSize(screen.scale);
        if (!idleCanvas || idleCanvas.Width() != size || idleScale != screen.scale ||
            idleLook != frame.lookGeneration) {
            idleCanvas = Canvas(size, size);
            if (!idleCanvas) {
                return false;
            }
            PaintIdle(palette, screen.scale, idleCanvas);
            idleScale = screen.scale;
            idleLook = frame.lookGeneration;
        }
        const RECT at = PlaceInCorner(screen.work, {size, size}, settings.corner);
        drawnOpacity = std::min(opacity, OpacityOf(IdleOpacityPercent));
        return layered->Present(idleCanvas, {at.left, at.top}, drawnOpacity, nullptr);
    }
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    if (!canvas || canvas.Width() != width || canvas.Height() != height) {
        canvas = Canvas(width, height);
        painter.reset();
        if (!canvas) {
            return false;
        }
    }
    const int margin = std::max(1, static_cast<int>(std::lround(MarginEpx * screen.scale)));
    const int bodyWidth = width - 2 * margin;
    const int bodyHeight = height - 2 * margin;
    if (!painter || painterGeneration != frame.generation ||
        !painter->Fits(bodyWidth, bodyHeight, screen.scale, palette)) {
        painter.emplace(PanelGeometry(layout, bodyWidth, bodyHeight, screen.scale), palette);
        painterGeneration = frame.generation;
    }
    painter->Paint(frame.scene, canvas);
    const BYTE shown = frame.form == Form::Fading
                           ? static_cast<BYTE>(std::lround(opacity * (1.0F - frame.fade)))
                           : opacity;
    const RECT changed = painter->Changed();
    const bool sameOpacity = layered->Shown() && shown == drawnOpacity;
    if (sameOpacity && IsRectEmpty(&changed) != FALSE && drawn && drawn->form == frame.form &&
        EqualRect(&drawn->place, &frame.place) != FALSE) {
        return true; // the same pixels: nothing to hand over
    }
    drawnOpacity = shown;
    // A new opacity applies to every pixel.
    return layered->Present(canvas, {place.left, place.top}, shown,
                            sameOpacity ? &changed : nullptr);
}

void Overlay::HideWindow() {
    if (layered != nullptr) {
        layered->Hide();
    }
    AcquireSRWLockExclusive(&lock);
    shared.framed = false;
    ReleaseSRWLockExclusive(&lock);
    drawn.reset();
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
