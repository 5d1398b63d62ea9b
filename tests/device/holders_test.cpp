#include <gtest/gtest.h>
#include "device/pad_app.h"
TEST(Smoke, Builds) { PadApp app; EXPECT_EQ(app.deviceHandle, -1); }
