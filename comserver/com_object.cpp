#include "com_object.h"

#include "device/velcom.h"

LONG PacketValues::Read(LONG id) const {
    switch (id) {
    case PropFlagsA:
        return a;
    case PropFlagsB:
        return b;
    case PropX:
        return x;
    case PropY:
        return y;
    case PropMotion:
        return motion;
    default:
        return 0;
    }
}

LONG WrittenProperties::Write(LONG id, LONG value) {
    AcquireSRWLockExclusive(&lock);
    size_t i = 0;
    while (i < count && written[i].id != id) {
        ++i;
    }
    LONG status = S_OK;
    if (i < Capacity) {
        written[i] = {id, value};
        count = i == count ? i + 1 : count;
    } else {
        status = E_OUTOFMEMORY;
    }
    ReleaseSRWLockExclusive(&lock);
    return status;
}

bool WrittenProperties::Read(LONG id, LONG& value) {
    bool found = false;
    AcquireSRWLockShared(&lock);
    for (size_t i = 0; i < count; ++i) {
        if (written[i].id == id) {
            value = written[i].value;
            found = true;
        }
    }
    ReleaseSRWLockShared(&lock);
    return found;
}

HRESULT LastErrorStatus() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
