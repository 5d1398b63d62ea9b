#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "alloc_hooks.h"
#include "layout/reg_key.h"
#include "registry_scratch.h"

namespace {

constexpr char TestsRoot[] = "Software\\TapdeckTests";
constexpr char Scratch[] = "Software\\TapdeckTests\\Layout";
constexpr char ScratchInner[] = "Software\\TapdeckTests\\Layout\\Inner";
constexpr char OtherKey[] = "Software\\TapdeckTests\\Layout\\Other";
constexpr char AbsentKey[] = "Software\\TapdeckTests\\Layout\\Absent";

constexpr DWORD Untouched = 0xAAAAAAAA;
constexpr DWORD Fallback = 0x5EED;

enum class Where { Nowhere, Key, Inner };

struct QueryCase {
    const char* label;
    StoredValue value = {"V"};
    Where where = Where::Key;
    const char* subkey = nullptr; // passed to QueryDword
    bool openAbsent = false;      // the reader is opened on a key that does not exist
    bool withDefault = true;
    bool ok;
    DWORD dest; // the destination afterwards; it starts as Untouched
};

constexpr QueryCase QueryCases[] = {
    {.label = "dword",
     .value = {"V", REG_DWORD, "\x78\x56\x34\x12", 4},
     .ok = true,
     .dest = 0x12345678},
    {.label = "dword without default",
     .value = {"V", REG_DWORD, "\x78\x56\x34\x12", 4},
     .withDefault = false,
     .ok = true,
     .dest = 0x12345678},
    // REG_DWORD counts whatever size came back.
    {.label = "2-byte dword",
     .value = {"V", REG_DWORD, "\x34\x12", 2},
     .withDefault = false,
     .ok = true,
     .dest = 0xAAAA1234},
    {.label = "4-byte binary",
     .value = {"V", REG_BINARY, "\x01\x00\x00\x80", 4},
     .ok = true,
     .dest = 0x80000001},
    {.label = "2-byte binary",
     .value = {"V", REG_BINARY, "\x34\x12", 2},
     .ok = false,
     .dest = 0xAAAA1234},
    {.label = "6-byte binary",
     .value = {"V", REG_BINARY, "\x01\x02\x03\x04\x05\x06", 6},
     .ok = true,
     .dest = Fallback},
    {.label = "3-char string", .value = {"V", REG_SZ, "abc", 4}, .ok = false, .dest = 0x00636261},
    {.label = "empty string", .value = {"V", REG_SZ, "", 1}, .ok = false, .dest = 0xAAAAAA00},
    {.label = "4-char string", .value = {"V", REG_SZ, "abcd", 5}, .ok = true, .dest = Fallback},
    {.label = "4-char string without default",
     .value = {"V", REG_SZ, "abcd", 5},
     .withDefault = false,
     .ok = false,
     .dest = Untouched},
    {.label = "qword",
     .value = {"V", REG_QWORD, "\x01\x00\x00\x00\x00\x00\x00\x00", 8},
     .ok = true,
     .dest = Fallback},
    {.label = "qword without default",
     .value = {"V", REG_QWORD, "\x01\x00\x00\x00\x00\x00\x00\x00", 8},
     .withDefault = false,
     .ok = false,
     .dest = Untouched},
    {.label = "absent value", .where = Where::Nowhere, .ok = true, .dest = Fallback},
    {.label = "absent value without default",
     .where = Where::Nowhere,
     .withDefault = false,
     .ok = false,
     .dest = Untouched},
    {.label = "value in subkey",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .where = Where::Inner,
     .subkey = "Inner",
     .ok = true,
     .dest = 7},
    // The open key has the value, but the query is for the missing subkey.
    {.label = "absent subkey",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .subkey = "Missing",
     .ok = true,
     .dest = Fallback},
    {.label = "absent subkey without default",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .subkey = "Missing",
     .withDefault = false,
     .ok = false,
     .dest = Untouched},
    {.label = "value only in subkey",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .where = Where::Inner,
     .ok = true,
     .dest = Fallback},
    {.label = "absent key",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .openAbsent = true,
     .ok = true,
     .dest = Fallback},
    {.label = "absent key without default",
     .value = {"V", REG_DWORD, "\x07\x00\x00\x00", 4},
     .openAbsent = true,
     .withDefault = false,
     .ok = false,
     .dest = Untouched},
};

// Every test starts and ends without the scratch keys.
class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteKeyTree(Scratch, TestsRoot);
        ASSERT_TRUE(CreateKey(Scratch));
    }
    void TearDown() override { DeleteKeyTree(Scratch, TestsRoot); }

    static void Store(const char* key, const char* name, DWORD value) {
        ASSERT_TRUE(StoreValue(key, {name, REG_DWORD, reinterpret_cast<const char*>(&value), 4}));
    }
};

TEST_F(RegKeyTest, QueryDwordByStoredValue) {
    for (const QueryCase& c : QueryCases) {
        SCOPED_TRACE(c.label);
        DeleteKeyTree(Scratch, TestsRoot);
        ASSERT_TRUE(CreateKey(Scratch));
        if (c.where == Where::Key) {
            ASSERT_TRUE(StoreValue(Scratch, c.value));
        } else if (c.where == Where::Inner) {
            ASSERT_TRUE(StoreValue(ScratchInner, c.value));
        }

        RegKey key;
        EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, c.openAbsent ? AbsentKey : Scratch, false),
                  !c.openAbsent);
        DWORD dest = Untouched;
        const DWORD def = Fallback;
        EXPECT_EQ(key.QueryDword("V", &dest, c.withDefault ? &def : nullptr, c.subkey), c.ok);
        EXPECT_EQ(dest, c.dest) << std::hex << dest;
    }
}

TEST_F(RegKeyTest, QueryDwordIntoItsOwnDefault) {
    Store(Scratch, "Present", 42);
    ASSERT_TRUE(StoreValue(Scratch, {"Long", REG_SZ, "abcdefgh", 9}));
    RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, Scratch, false));

    DWORD value = 0x1234;
    EXPECT_TRUE(key.QueryDword("Absent", &value, &value, nullptr));
    EXPECT_EQ(value, 0x1234u);
    // The value the variable had before the registry was asked is the one put back.
    EXPECT_TRUE(key.QueryDword("Long", &value, &value, nullptr));
    EXPECT_EQ(value, 0x1234u);
    EXPECT_TRUE(key.QueryDword("Present", &value, &value, nullptr));
    EXPECT_EQ(value, 42u);
}

TEST_F(RegKeyTest, MissingNameOrDestinationStoresNothing) {
    Store(Scratch, "V", 42);
    RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, Scratch, false));
    DWORD dest = Untouched;
    const DWORD def = Fallback;
    EXPECT_FALSE(key.QueryDword(nullptr, &dest, &def, nullptr));
    EXPECT_EQ(dest, Untouched);
    EXPECT_FALSE(key.QueryDword("V", nullptr, &def, nullptr));

    RegKey never;
    EXPECT_FALSE(never.QueryDword(nullptr, &dest, &def, nullptr));
    EXPECT_EQ(dest, Untouched);
}

TEST_F(RegKeyTest, NeverOpenedReaderFallsBack) {
    RegKey key;
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Identity().root, nullptr);
    EXPECT_EQ(key.Identity().path, nullptr);
    DWORD dest = Untouched;
    const DWORD def = Fallback;
    EXPECT_FALSE(key.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, Untouched);
    EXPECT_TRUE(key.QueryDword("V", &dest, &def, nullptr));
    EXPECT_EQ(dest, Fallback);
}

TEST_F(RegKeyTest, FailedOpenDropsTheKeyHeldBefore) {
    Store(Scratch, "V", 42);
    RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, Scratch, false));
    DWORD dest = 0;
    ASSERT_TRUE(key.QueryDword("V", &dest, nullptr, nullptr));
    ASSERT_EQ(dest, 42u);

    EXPECT_FALSE(key.Open(HKEY_LOCAL_MACHINE, AbsentKey, false));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Identity().root, HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(key.Identity().path, AbsentKey);
    dest = Untouched;
    EXPECT_FALSE(key.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, Untouched);
    EXPECT_FALSE(KeyExists(AbsentKey)); // opening never creates
}

TEST_F(RegKeyTest, OpenReplacesTheKeyHeldBefore) {
    Store(Scratch, "V", 1);
    Store(OtherKey, "V", 2);
    RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, Scratch, false));
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, OtherKey, false));
    DWORD dest = 0;
    EXPECT_TRUE(key.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, 2u);
    EXPECT_STREQ(key.Identity().path, OtherKey);
}

TEST_F(RegKeyTest, OpenCreatesOnlyWhenAsked) {
    RegKey key;
    ASSERT_FALSE(KeyExists(AbsentKey));
    EXPECT_TRUE(key.Open(HKEY_LOCAL_MACHINE, AbsentKey, true));
    EXPECT_TRUE(key.IsOpen());
    EXPECT_TRUE(KeyExists(AbsentKey));
    Store(AbsentKey, "V", 9);
    DWORD dest = 0;
    EXPECT_TRUE(key.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, 9u);
}

TEST_F(RegKeyTest, CloseLeavesNothingHeld) {
    Store(Scratch, "V", 42);
    RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, Scratch, false));
    key.Close();
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Identity().root, nullptr);
    EXPECT_EQ(key.Identity().path, nullptr);
    DWORD dest = Untouched;
    EXPECT_FALSE(key.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, Untouched);
}

TEST_F(RegKeyTest, MoveHandsOverTheKey) {
    Store(Scratch, "V", 42);
    RegKey first;
    ASSERT_TRUE(first.Open(HKEY_LOCAL_MACHINE, Scratch, false));
    RegKey second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(first.Identity().root, nullptr);
    EXPECT_EQ(first.Identity().path, nullptr);
    DWORD dest = 0;
    EXPECT_TRUE(second.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, 42u);

    RegKey third;
    ASSERT_TRUE(third.Open(HKEY_LOCAL_MACHINE, OtherKey, true));
    third = std::move(second);
    EXPECT_STREQ(third.Identity().path, Scratch);
    dest = 0;
    EXPECT_TRUE(third.QueryDword("V", &dest, nullptr, nullptr));
    EXPECT_EQ(dest, 42u);
}

TEST_F(RegKeyTest, OpenWithoutMemoryForThePathHoldsNothing) {
    Store(Scratch, "V", 42);
    RegKey key;
    alloc_hooks::FailThrowingNew(1); // the array new behind the path copy
    const bool opened = key.Open(HKEY_LOCAL_MACHINE, Scratch, false);
    const bool fired = alloc_hooks::Fired();
    alloc_hooks::FailThrowingNew(0);
    ASSERT_TRUE(fired);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Identity().root, nullptr);
    EXPECT_EQ(key.Identity().path, nullptr);
}

struct SameKeyCase {
    const char* label;
    bool thisOpened; // this reader was opened on (HKLM, "Software\\Tk\\A")
    bool otherGiven;
    RegKeyIdentity other;
    bool same;
};

const SameKeyCase SameKeyCases[] = {
    {"no other", true, false, {}, false},
    {"equal", true, true, {HKEY_LOCAL_MACHINE, "Software\\Tk\\A"}, true},
    {"other root", true, true, {HKEY_CURRENT_USER, "Software\\Tk\\A"}, false},
    {"case differs", true, true, {HKEY_LOCAL_MACHINE, "software\\tk\\a"}, false},
    {"longer", true, true, {HKEY_LOCAL_MACHINE, "Software\\Tk\\A\\"}, false},
    {"prefix", true, true, {HKEY_LOCAL_MACHINE, "Software\\Tk"}, false},
    {"any path of the root", true, true, {HKEY_LOCAL_MACHINE, nullptr}, true},
    {"nothing held, no path", false, true, {nullptr, nullptr}, false},
    {"nothing held, a path", false, true, {nullptr, "Software\\Tk\\A"}, false},
};

TEST(RegKeyIdentityTest, IsSameKey) {
    for (const SameKeyCase& c : SameKeyCases) {
        SCOPED_TRACE(c.label);
        RegKey key;
        if (c.thisOpened) {
            // Need not exist: a failed open keeps the identity.
            key.Open(HKEY_LOCAL_MACHINE, "Software\\Tk\\A", false);
        }
        EXPECT_EQ(key.IsSameKey(c.otherGiven ? &c.other : nullptr), c.same);
    }
}

} // namespace
