#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "device/pad_app.h"
#include "registry_scratch.h"
#include "support/process.h"

namespace {

constexpr char VelmoraKey[] = "Software\\Velmora";
constexpr char ConfigKey[] = "Software\\Velmora\\TwinpadApp";

struct Sizes {
    LONG colWidth, btnWidth, btnHeight, stripHeight;
};

struct Bounds {
    RECT pad;
    Sizes sizes;
};

// What PadApp's construction leaves; a failed load must keep it.
constexpr Bounds Constructed = {{1612, 3748, 5300, 2072}, {922, 922, 558, 558}};
// The simulated touchpad's default edges.
constexpr Bounds DeviceDefault = {{1000, 1000, 7000, 5800}, {1000, 1066, 1000, 3200}};
// The registry's fixed defaults for absent bounds.
constexpr Bounds RegistryDefault = {{1612, 2072, 5300, 3748}, {614, 424, -41, 1117}};

struct BoundsCase {
    const char* label;
    bool keyPresent = true;
    StoredValue values[5] = {};
    LONG useBefore = 0;             // useUserConfig before the load
    const char* scenario = nullptr; // simulated touchpad; null: its default touchpad
    bool needsDevice = true;        // the bounds (or the failure) come from the device
    int result = 1;
    LONG useAfter = 0;
    Bounds bounds = Constructed;
};

const BoundsCase BoundsCases[] = {
    {.label = "no key", .keyPresent = false, .bounds = DeviceDefault},
    {.label = "key without UseUserConfig", .bounds = DeviceDefault},
    {.label = "UseUserConfig 0",
     .values = {{"UseUserConfig", REG_DWORD, "\0\0\0\0", 4}, {"LoX", REG_DWORD, "\x01\x02\0\0", 4}},
     .bounds = DeviceDefault},
    {.label = "UseUserConfig 1 without bounds",
     .values = {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4}},
     .needsDevice = false,
     .useAfter = 1,
     .bounds = RegistryDefault},
    {.label = "UseUserConfig as 4-byte binary",
     .values = {{"UseUserConfig", REG_BINARY, "\0\x01\0\0", 4},
                {"LoX", REG_DWORD, "\x60\x06\0\0", 4},  // 1632
                {"LoY", REG_DWORD, "\x20\x06\0\0", 4},  // 1568
                {"HiX", REG_DWORD, "\xC0\x14\0\0", 4},  // 5312
                {"HiY", REG_DWORD, "\xC0\x10\0\0", 4}}, // 4288
     .needsDevice = false,
     .useAfter = 0x100,
     .bounds = {{1632, 1568, 5312, 4288}, {613, 422, 306, 1814}}},
    // Too narrow for the grid: btnWidth is divided as an unsigned number.
    {.label = "narrow registry pad",
     .values = {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4},
                {"LoX", REG_DWORD, "\xE8\x03\0\0", 4}, // 1000
                {"LoY", REG_DWORD, "\xE8\x03\0\0", 4},
                {"HiX", REG_DWORD, "\xB8\x0B\0\0", 4}, // 3000
                {"HiY", REG_DWORD, "\xB8\x0B\0\0", 4}},
     .needsDevice = false,
     .useAfter = 1,
     .bounds = {{1000, 1000, 3000, 3000}, {333, 1431655721, 66, 1334}}},
    // Fits in 4 bytes but is no 32-bit value; its bytes stay in useUserConfig.
    {.label = "UseUserConfig as short string",
     .values = {{"UseUserConfig", REG_SZ, "1", 2}},
     .needsDevice = false,
     .result = 0,
     .useAfter = 0x31},
    {.label = "UseUserConfig as long string",
     .values = {{"UseUserConfig", REG_SZ, "true", 5}},
     .bounds = DeviceDefault},
    // An absent UseUserConfig keeps what useUserConfig held.
    {.label = "UseUserConfig absent, set before",
     .values = {{"LoX", REG_DWORD, "\x01\x02\0\0", 4}},
     .useBefore = 1,
     .needsDevice = false,
     .useAfter = 1,
     .bounds = {{513, 2072, 5300, 3748}, {797, 730, -41, 1117}}},
    // Without the key the reads fall back to the fixed defaults.
    {.label = "no key, set before",
     .keyPresent = false,
     .useBefore = 1,
     .needsDevice = false,
     .useAfter = 1,
     .bounds = RegistryDefault},
    {.label = "LoX stored as 0",
     .values = {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4}, {"LoX", REG_DWORD, "\0\0\0\0", 4}},
     .needsDevice = false,
     .result = 0,
     .useAfter = 1},
    {.label = "LoX as string",
     .values = {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4},
                {"LoX", REG_SZ, "77", 3},
                {"HiX", REG_DWORD, "\x70\x17\0\0", 4}}, // 6000
     .needsDevice = false,
     .useAfter = 1,
     .bounds = {{1612, 2072, 6000, 3748}, {731, 619, -41, 1117}}},
    // One scratch serves the four reads: a short REG_DWORD keeps the upper bytes of the
    // value read before it.
    {.label = "short LoY after LoX",
     .values = {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4},
                {"LoX", REG_DWORD, "\xE8\x03\x01\0", 4}, // 0x103E8
                {"LoY", REG_DWORD, "\xD0\x07", 2}},      // 0x7D0
     .needsDevice = false,
     .useAfter = 1,
     .bounds = {{0x103E8, 0x107D0, 5300, 3748}, {-10206, 1431638155, -21862, -42526}}},
    {.label = "device edge 0", .scenario = "edges 1000 0 7000 5800\n", .result = 0},
    {.label = "no device object", .scenario = "create PointingDevice fail\n", .result = 0},
    // right - left overflows 32 bits and wraps before the division.
    {.label = "device edges wrap",
     .scenario = "edges -2147483000 1 2147483000 2\n",
     .bounds = {{-2147483000, 1, 2147483000, 2}, {-216, 1431654805, -599, 0}}},
};

bool SimulatedTouchpadRegistered() {
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(ProgIdPointingDevice, &clsid));
}

// Points the simulated library at a scenario file for as long as it lives; the library reads
// it when the process's first object is made.
class ScopedScenario {
public:
    explicit ScopedScenario(const char* text) {
        if (!text) {
            return;
        }
        path = TempFilePath(L"lay");
        std::ofstream(path.c_str(), std::ios::binary) << text;
        previous = EnvironmentValue(L"VELSIM_SCENARIO");
        SetEnvironmentVariableW(L"VELSIM_SCENARIO", path.c_str());
    }
    ~ScopedScenario() {
        if (path.empty()) {
            return;
        }
        SetEnvironmentVariableW(L"VELSIM_SCENARIO", previous.empty() ? nullptr : previous.c_str());
        DeleteFileW(path.c_str());
    }
    ScopedScenario(const ScopedScenario&) = delete;
    ScopedScenario& operator=(const ScopedScenario&) = delete;

private:
    std::wstring path;
    std::wstring previous;
};

class LoadPadBoundsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(ConfigKey, VelmoraKey); }
    void TearDown() override { DeleteKeyTree(ConfigKey, VelmoraKey); }
};

void RunCase(const BoundsCase& c) {
    SCOPED_TRACE(c.label);
    DeleteKeyTree(ConfigKey, VelmoraKey);
    if (c.keyPresent) {
        ASSERT_TRUE(CreateKey(ConfigKey));
    }
    for (const StoredValue& value : c.values) {
        if (value.name) {
            ASSERT_TRUE(StoreValue(ConfigKey, value));
        }
    }

    ScopedScenario scenario(c.scenario);
    {
        PadApp app;
        app.useUserConfig = c.useBefore;
        EXPECT_EQ(app.LoadPadBounds(), c.result);
        EXPECT_EQ(app.useUserConfig, c.useAfter);
        EXPECT_EQ(app.padRect.left, c.bounds.pad.left);
        EXPECT_EQ(app.padRect.top, c.bounds.pad.top);
        EXPECT_EQ(app.padRect.right, c.bounds.pad.right);
        EXPECT_EQ(app.padRect.bottom, c.bounds.pad.bottom);
        EXPECT_EQ(app.colWidth, c.bounds.sizes.colWidth);
        EXPECT_EQ(app.btnWidth, c.bounds.sizes.btnWidth);
        EXPECT_EQ(app.btnHeight, c.bounds.sizes.btnHeight);
        EXPECT_EQ(app.stripHeight, c.bounds.sizes.stripHeight);
    }
    // The load neither creates the key nor removes it.
    EXPECT_EQ(KeyExists(ConfigKey), c.keyPresent);
}

TEST_F(LoadPadBoundsTest, BoundsFromTheRegistry) {
    for (const BoundsCase& c : BoundsCases) {
        if (!c.needsDevice) {
            RunCase(c);
        }
    }
}

TEST_F(LoadPadBoundsTest, BoundsFromTheTouchpad) {
    if (!SimulatedTouchpadRegistered()) {
        GTEST_SKIP() << "the simulated touchpad library is not registered in the prefix";
    }
    for (const BoundsCase& c : BoundsCases) {
        if (c.needsDevice) {
            RunCase(c);
        }
    }
}

} // namespace
