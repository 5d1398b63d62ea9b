// The system's volume for the panel's strip: the default output's level and mute, read through
// its audio endpoint (IAudioEndpointVolume) and kept current by the endpoint's change
// notifications, and the endpoint opened again when the default output changes. Where there
// is no output (no audio device, as in the tests under Wine) there is no level, and nothing
// else happens: no error, no retry.
//
// Threads: made, read and destroyed on one thread that has COM (the panel's, multithreaded).
// The system calls the notifications on threads of its own: they store under a lock and call
// the wake function, which must not block.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "render.h"

namespace overlay {

class EndpointVolume {
public:
    using WakeFn = void (*)(void* context);

    EndpointVolume(WakeFn wake, void* context);
    ~EndpointVolume();
    EndpointVolume(const EndpointVolume&) = delete;
    EndpointVolume& operator=(const EndpointVolume&) = delete;
    EndpointVolume(EndpointVolume&&) = delete;
    EndpointVolume& operator=(EndpointVolume&&) = delete;

    // The level as last told; none without an output. Opens the endpoint again first when the
    // default output changed since the last call.
    std::optional<VolumeLevel> Level();

private:
    class Listener;
    struct Endpoint;

    void Open();
    void Close();

    WakeFn wake;
    void* context;
    Listener* listener = nullptr; // a COM object: released, never deleted
    std::unique_ptr<Endpoint> endpoint;
};

} // namespace overlay
