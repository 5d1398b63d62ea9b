// The pieces every in-process COM server of the project shares, in the shape of the Windows
// classic samples: a class table (class identifier, ProgID, how to make an object), a class
// factory per entry, and self-registration from that table.
//
// Several device libraries register under the same ProgIDs, and only one can own them at a
// time: registering a library points the ProgIDs at its classes; unregistering it removes its
// own class keys and only those ProgID keys that still point at one of its classes, so that it
// never takes the ProgIDs away from another library.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <span>
#include <string>
#include <utility>

// One class of a server.
struct ServerClass {
    const CLSID* clsid;
    const wchar_t* progId;
    // Makes one object and returns the interface `iid` of it; any thread.
    HRESULT (*create)(REFIID iid, void** ppv);
};

// The count of IClassFactory::LockServer locks that a server's factories hold. Plain data, so
// a server can keep one as a global without a constructor.
struct ServerLocks {
    LONG count;

    void Add(LONG delta) { InterlockedExchangeAdd(&count, delta); }
    bool Any() { return InterlockedCompareExchange(&count, 0, 0) != 0; }
};

// The factory of one class-table entry. Kept in static storage by its server, so its reference
// count does not matter; LockServer counts in the server's ServerLocks.
class ServerClassFactory final : public IClassFactory {
public:
    constexpr ServerClassFactory(const ServerClass& entry, ServerLocks& locks)
        : serverClass(&entry), serverLocks(&locks) {}

    const ServerClass& Class() const { return *serverClass; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    const ServerClass* serverClass;
    ServerLocks* serverLocks;
};

// DllGetClassObject over a server's factories: CLASS_E_CLASSNOTAVAILABLE for a foreign class.
HRESULT GetServerClassObject(std::span<ServerClassFactory> factories, REFCLSID clsid, REFIID iid,
                             void** ppv);

// A server's factories, one per class of its table, and their LockServer count. Constant-
// initialised in static storage: constinit ServerFactories<3> factories(classes);
template <size_t N> class ServerFactories {
public:
    constexpr explicit ServerFactories(const ServerClass (&table)[N])
        : ServerFactories(table, std::make_index_sequence<N>{}) {}

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
        return GetServerClassObject(factories, clsid, iid, ppv);
    }
    // True while a LockServer lock is held.
    bool Locked() { return locks.Any(); }

private:
    template <size_t... I>
    constexpr ServerFactories(const ServerClass (&table)[N], std::index_sequence<I...>)
        : factories{ServerClassFactory(table[I], locks)...} {}

    ServerLocks locks{0};
    ServerClassFactory factories[N];
};

// Writes, under HKEY_CLASSES_ROOT, CLSID\{clsid} (default value: `description` + the ProgID)
// with InprocServer32 (default: dllPath, ThreadingModel Both) and ProgID, and <ProgID>\CLSID
// pointing at the class, for every class of the table. On failure it removes what it wrote.
HRESULT RegisterServerClasses(std::span<const ServerClass> classes, const wchar_t* dllPath,
                              const wchar_t* description);

// Removes the table's CLSID keys, and each ProgID key whose CLSID is the table's class for
// it; a ProgID that another server has taken since stays as it is. Keys already gone are no
// error.
HRESULT UnregisterServerClasses(std::span<const ServerClass> classes);

// The full path of a loaded module (the server's DLL); empty when it cannot be read.
std::wstring ModulePath(HMODULE module);

// "{XXXXXXXX-...}", as the registry keeps class identifiers.
std::wstring GuidText(const GUID& guid);
