#include "support/recording_sink.h"

LONG STDMETHODCALLTYPE RecordingSink::OnPacket(LONG) {
    ++inside;
    Call call;
    call.thread = GetCurrentThreadId();
    if (device != nullptr && device->FillPacket(packet) == 0) {
        packet->ReadProperty(PropFlagsA, &call.a);
        packet->ReadProperty(PropFlagsB, &call.b);
        packet->ReadProperty(PropX, &call.x);
        packet->ReadProperty(PropY, &call.y);
        packet->ReadProperty(PropMotion, &call.motion);
    }
    size_t index;
    {
        std::lock_guard<std::mutex> hold(mutex);
        index = calls.size();
        calls.push_back(call);
    }
    if (during) {
        during(index);
    }
    --inside;
    return result;
}

std::vector<Call> RecordingSink::Calls() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls;
}

bool RecordingSink::WaitForCalls(size_t n) {
    for (int i = 0; i < 10000 && Count() < n; ++i) {
        Sleep(1);
    }
    return Count() >= n;
}

void RecordingSink::HoldFirstCall(Event& entered, Event& release) {
    during = [&entered, &release](size_t index) {
        if (index == 0) {
            entered.Set();
            release.Wait(5000);
        }
    };
}

DWORD WINAPI SetAfterAWhile(void* event) {
    Sleep(200);
    static_cast<Event*>(event)->Set();
    return 0;
}
