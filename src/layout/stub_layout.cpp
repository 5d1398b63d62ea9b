// Placeholder until the layout lands.
#include "device/pad_app.h"
int PadApp::LoadPadBounds() { return 0; }
int PadApp::LayoutZones() { return 0; }
int PadApp::AddButton(LONG, LONG, LONG, LONG, LONG, LONG) { return 0; }
int PadApp::AddStrip(LONG, LONG, LONG, LONG, LONG, LONG) { return 0; }
const Zone* PadApp::FindButton(LONG, LONG) const { return nullptr; }
int PadApp::InStrip(LONG, LONG) const { return 0; }
