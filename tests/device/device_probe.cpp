// device_probe notify REASON: builds a PadApp on the simulated touchpad with a window standing
// in for the program's own, calls OnDeviceNotify(REASON), and prints what came of it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/pad_app.h"
#include "support/close_recorder.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "notify") != 0) {
        std::fprintf(stderr, "usage: device_probe notify REASON\n");
        return 2;
    }
    const LONG reason = std::strtol(argv[2], nullptr, 0);
    CloseRecorder window;
    padWindow.store(window.Handle());
    LONG result = -1;
    {
        PadApp app;
        result = app.OnDeviceNotify(reason);
    }
    std::printf("result=%ld closes=%d\n", static_cast<long>(result), window.Closes());
    std::fflush(stdout);
    return 0;
}
