#include "com_holder.h"

#include <objbase.h>

namespace {

// One guard per object kind: a one-time allocated TLS index whose per-thread value says
// whether this kind has initialised COM on the thread. Plain data, set up on first use.
struct ThreadInitGuard {
    INIT_ONCE once;
    DWORD index;
};

ThreadInitGuard guards[3] = {
    {INIT_ONCE_STATIC_INIT, TLS_OUT_OF_INDEXES},
    {INIT_ONCE_STATIC_INIT, TLS_OUT_OF_INDEXES},
    {INIT_ONCE_STATIC_INIT, TLS_OUT_OF_INDEXES},
};

BOOL CALLBACK AllocateIndex(INIT_ONCE*, void* guard, void**) {
    static_cast<ThreadInitGuard*>(guard)->index = TlsAlloc();
    return TRUE;
}

} // namespace

bool ComThreadInit(ComKind kind) {
    ThreadInitGuard& guard = guards[static_cast<int>(kind)];
    InitOnceExecuteOnce(&guard.once, AllocateIndex, &guard, nullptr);
    if (guard.index == TLS_OUT_OF_INDEXES) {
        // No index to remember it by: initialise every time, which COM tolerates.
        CoInitialize(nullptr);
        return true;
    }
    if (TlsGetValue(guard.index) != nullptr) {
        return false;
    }
    CoInitialize(nullptr);
    TlsSetValue(guard.index, reinterpret_cast<void*>(1));
    return true;
}

namespace {
constexpr DWORD AnyServer = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
}

IUnknown* CreateByProgId(const wchar_t* progId, REFIID iid) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) {
        return nullptr;
    }
    void* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, AnyServer, iid, &object))) {
        return nullptr;
    }
    return static_cast<IUnknown*>(object);
}

PacketHolder::PacketHolder() {
    ComThreadInit(ComKind::DevicePacket);
    ptr = static_cast<DevicePacket*>(CreateByProgId(ProgIdDevicePacket, IID_DevicePacket));
}

PacketHolder::PacketHolder(IClassFactory* factory) {
    ComThreadInit(ComKind::DevicePacket);
    void* object = nullptr;
    if (factory && SUCCEEDED(factory->CreateInstance(nullptr, IID_DevicePacket, &object))) {
        ptr = static_cast<DevicePacket*>(object);
    }
}

ClassFactoryHolder::ClassFactoryHolder(const wchar_t* progId) {
    CLSID clsid;
    void* factory = nullptr;
    if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)) &&
        SUCCEEDED(CoGetClassObject(clsid, AnyServer, nullptr, IID_IClassFactory, &factory))) {
        ptr = static_cast<IClassFactory*>(factory);
    }
}
