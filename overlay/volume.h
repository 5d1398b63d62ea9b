// The system's volume for the panel's strip: the default output's level and mute, read through
// its audio endpoint (IAudioEndpointVolume) and kept current by the endpoint's change
// notifications. Which output is the default is looked at again when asked (the panel asks when
// it is shown and at each tap or volume step), not followed by the enumerator's notifications:
// those need a thread of their own (Wine's takes a megabyte). Where there is no output (no
// audio device, as in the tests under Wine) there is no level, and nothing else happens: no
// error, no retry.
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

    // The level as last told; none without an output.
    std::optional<VolumeLevel> Level() const;
    // Opens the default output's endpoint again if the default is another one now.
    void Recheck();

private:
    class Listener;
    struct Endpoint;

    void Open();
    void Close();
    bool SameOutput();

    WakeFn wake;
    void* context;
    Listener* listener = nullptr; // a COM object: released, never deleted
    std::unique_ptr<Endpoint> endpoint;
};

} // namespace overlay
