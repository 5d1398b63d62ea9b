// Placeholder until packet handling lands.
#include "device/pad_app.h"
LONG STDMETHODCALLTYPE PadApp::OnPacket(LONG) { return 0; }
