// Pieces of the device libraries' COM objects: IUnknown over a reference count, and the
// property store of a device.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

// IUnknown for an object of one interface: it answers IUnknown and what Answers() accepts with
// itself, and deletes itself with its last reference. Any thread.
template <class Interface> class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || Answers(iid)) {
            AddRef();
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

protected:
    // Besides IUnknown, the interfaces this object answers for.
    virtual bool Answers(REFIID iid) const = 0;

private:
    LONG refs = 1;
};

// The properties written to a device, which read back until the device is released. Any
// thread.
class WrittenProperties {
public:
    // S_OK, or E_OUTOFMEMORY once Capacity different ids are kept.
    LONG Write(LONG id, LONG value);
    // False for an id never written.
    bool Read(LONG id, LONG& value);

    static constexpr size_t Capacity = 32;

private:
    struct Property {
        LONG id;
        LONG value;
    };

    SRWLOCK lock = SRWLOCK_INIT;
    Property written[Capacity] = {};
    size_t count = 0;
};

// What a packet object holds: the five packet properties Tapdeck reads.
struct PacketValues {
    LONG a = 0; // PropFlagsA
    LONG b = 0; // PropFlagsB
    LONG x = 0;
    LONG y = 0;
    LONG motion = 0;

    // ReadProperty's value for `id`: 0 for anything but a packet property.
    LONG Read(LONG id) const;
};

// The calling thread's last error as a failure status (E_FAIL when it holds none).
HRESULT LastErrorStatus();
