#include "pad_input.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>
#include <utility>

#include "com_object.h"
#include "device/module_of.h"

namespace {

// How often the input thread looks for a contact that stopped being reported, and for a frame
// that waits for the rest of its reports: only while there is one.
constexpr DWORD IdleCheckMs = 50;

} // namespace

PadInput::PadInput(const ptp::PadGeometry& geometry, std::unique_ptr<FrameSource> frames,
                   const std::atomic<bool>* claim)
    : source(std::move(frames)), claimed(claim), translator(geometry) {}

PadInput::~PadInput() {
    if (thread) {
        SetEvent(quit.Get());
        WaitForSingleObject(thread.Get(), INFINITE);
    }
}

HRESULT PadInput::Start() {
    quit = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ready = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    waiting = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!quit || !ready || !waiting) {
        return LastErrorStatus();
    }
    if (!source) {
        return E_INVALIDARG;
    }
    thread = UniqueHandle(CreateThread(nullptr, 0, Main, this, 0, nullptr));
    if (!thread) {
        return LastErrorStatus();
    }
    const HANDLE waits[] = {ready.Get(), thread.Get()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (WaitForSingleObject(ready.Get(), 0) == WAIT_OBJECT_0 && SUCCEEDED(setup)) {
        return S_OK;
    }
    // The thread has taken down what it set up, and ends.
    WaitForSingleObject(thread.Get(), INFINITE);
    return FAILED(setup) ? setup : E_FAIL;
}

void PadInput::Take(std::vector<ptp::Packet>& into) {
    into.clear();
    AcquireSRWLockExclusive(&queueLock);
    std::swap(into, queued);
    ReleaseSRWLockExclusive(&queueLock);
}

DWORD WINAPI PadInput::Main(void* param) {
    auto* self = static_cast<PadInput*>(param);
    const HRESULT status = self->SetUp();
    const bool up = SUCCEEDED(status);
    self->setup = status;
    SetEvent(self->ready.Get());
    if (up) {
        self->Loop();
    }
    self->TearDown();
    return 0;
}

HRESULT PadInput::SetUp() {
    HINSTANCE instance = ModuleOf(&PadInput::WndProc);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    // Named after the window procedure's address: a copy of the library loaded again later at
    // another address registers a class of its own, so the class is never taken away from a
    // run that is starting (Windows keeps it until the process ends).
    wchar_t name[48] = {};
    swprintf(name, std::size(name), L"VelPtpInput%p", reinterpret_cast<void*>(&WndProc));
    wc.lpszClassName = name;
    // Another claim's thread may have registered it already.
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return LastErrorStatus();
    }
    window = CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (window == nullptr) {
        return LastErrorStatus();
    }
    // Before the source starts: no frame comes earlier than the claim's start.
    translator.ClaimStarts(FrameClock());
    if (!source->Start(window)) {
        return LastErrorStatus();
    }
    listening = true;
    hook.emplace(claimed, &lastContact);
    return hook->Status();
}

// Whatever SetUp took, whichever step failed.
void PadInput::TearDown() {
    hook.reset();
    if (listening) {
        source->Stop();
        listening = false;
    }
    if (window != nullptr) {
        DestroyWindow(window);
        window = nullptr;
    }
}

void PadInput::Loop() {
    HANDLE stop = quit.Get();
    for (;;) {
        // No timer while nothing can be lost or is pending: an untouched pad costs no wake-up.
        const DWORD timeout = NeedsIdle() ? IdleCheckMs : INFINITE;
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(1, &stop, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
            return;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return;
            }
            DispatchMessageW(&msg);
        }
        if (NeedsIdle() && GetTickCount() - lastIdleMs >= IdleCheckMs) {
            OnIdle();
        }
    }
}

LRESULT CALLBACK PadInput::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the user data is where WM_NCCREATE put it
    auto* self = reinterpret_cast<PadInput*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->listening) {
        try {
            self->source->OnMessage(message, wParam, lParam, *self);
        } catch (const std::bad_alloc&) {
            // The report is lost; the next one comes in a few milliseconds.
        }
    }
    // WM_INPUT too: the default handling frees the system's copy of the input.
    return DefWindowProcW(window, message, wParam, lParam);
}

void PadInput::OnFrame(const ptp::Frame& frame) {
    const DWORD now = GetTickCount();
    if (FramePutsPadInUse(frame)) {
        lastContact.store(ContactTick(now), std::memory_order_release);
    }
    lastFrameUs = frame.timeUs;
    lastArrivalUs = FrameClock();
    framed = true;
    if (!frame.buttonOnly) {
        CheckHook(frame, now);
    }
    batch.Clear();
    translator.OnFrame(frame, batch);
    Queue();
}

void PadInput::OnPadChanged(const ptp::PadGeometry& geometry) {
    batch.Clear();
    translator.ChangePad(geometry, batch);
    Queue();
}

void PadInput::OnPadRemoved() {
    // Every mouse works again at once, whatever the pad was doing.
    lastContact.store(0, std::memory_order_release);
    hadContact = false;
    batch.Clear();
    translator.Lose(batch);
    Queue();
}

void PadInput::OnIdle() {
    lastIdleMs = GetTickCount();
    source->OnIdle(FrameClock(), *this);
    // The silence since the last frame arrived, on the frames' clock: frame times follow the
    // pad's scan clock, which may differ from the arrivals by up to ScanClock::MaxDriftUs.
    const uint32_t now = FrameClock();
    batch.Clear();
    translator.Idle(framed ? lastFrameUs + (now - lastArrivalUs) : now, batch);
    Queue();
}

// A finger moving on the pad makes pointer input that the hook sees before it swallows it: a
// hook that has seen nothing for a second while one moves may have been removed by Windows.
void PadInput::CheckHook(const ptp::Frame& frame, DWORD now) {
    const ptp::Contact* down = nullptr;
    for (size_t i = 0; i < std::min(frame.count, ptp::MaxContacts); ++i) {
        if (frame.contacts[i].tip) {
            down = &frame.contacts[i];
            break;
        }
    }
    const bool moving = down != nullptr && hadContact && previousContact.id == down->id &&
                        (previousContact.x != down->x || previousContact.y != down->y);
    hadContact = down != nullptr;
    if (down != nullptr) {
        previousContact = *down;
    }
    if (hook && HookMayBeGone(moving, hook->LastCall(), lastReinstallAsk, now)) {
        lastReinstallAsk = ContactTick(now);
        hook->Reinstall();
    }
}

void PadInput::Queue() {
    if (batch.count == 0) {
        return;
    }
    AcquireSRWLockExclusive(&queueLock);
    try {
        queued.insert(queued.end(), batch.begin(), batch.end());
    } catch (const std::bad_alloc&) {
        // These packets are lost; the delivery thread takes the queue and frees it.
    }
    ReleaseSRWLockExclusive(&queueLock);
    SetEvent(waiting.Get());
}
