// The Windows registry service against the system's own registry (Wine's in
// the cross build's test runs), in a scratch key below HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "platform/Registry.h"

namespace qb::platform {
namespace {

constexpr char kScratch[] = "Software\\Quellbox Test Scratch";

class Win32RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }

    void Remove() {
        Registry::Key user = 0;
        ASSERT_EQ(reg.CreateKey(reg::kCurrentUser, "Software", reg::kKeyAllAccess, user), reg::kOk);
        reg.DeleteTree(user, "Quellbox Test Scratch");
        reg.CloseKey(user);
    }

    Registry& reg = DefaultRegistry();
};

TEST_F(Win32RegistryTest, CreatesKeysAndKeepsTypedValues) {
    Registry::Key key = 0;
    ASSERT_EQ(
        reg.CreateKey(reg::kCurrentUser, std::string(kScratch) + "\\a\\b", reg::kKeyAllAccess, key),
        reg::kOk);
    ASSERT_NE(key, 0u);
    EXPECT_EQ(reg.SetValue(key, "text", reg::kSz, std::string("Z\xE4hler\0", 7)), reg::kOk);
    const std::string dword("\x2A\0\0\0", 4);
    EXPECT_EQ(reg.SetValue(key, "number", reg::kDword, dword), reg::kOk);
    EXPECT_EQ(reg.SetValue(key, "", reg::kSz, std::string("default\0", 8)), reg::kOk);

    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(reg.QueryValue(key, "TEXT", type, data), reg::kOk) << "names ignore letter case";
    EXPECT_EQ(type, reg::kSz);
    EXPECT_EQ(data, std::string("Z\xE4hler\0", 7)) << "code-page text, byte for byte";
    ASSERT_EQ(reg.QueryValue(key, "number", type, data), reg::kOk);
    EXPECT_EQ(type, reg::kDword);
    EXPECT_EQ(data, dword);
    EXPECT_EQ(reg.QueryValue(key, "missing", type, data), reg::kFileNotFound);
    EXPECT_TRUE(data.empty());

    KeyInfo info;
    ASSERT_EQ(reg.QueryInfo(key, info), reg::kOk);
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.longestValueName, 6u);

    std::string name;
    int seen = 0;
    for (uint32_t i = 0; reg.EnumValue(key, i, name, type, data) == reg::kOk; ++i)
        ++seen;
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(reg.EnumValue(key, 3, name, type, data), reg::kNoMoreItems);

    EXPECT_EQ(reg.DeleteValue(key, "number"), reg::kOk);
    EXPECT_EQ(reg.DeleteValue(key, "number"), reg::kFileNotFound);
    reg.CloseKey(key);
}

TEST_F(Win32RegistryTest, EnumeratesSubkeysAndDeletesTrees) {
    Registry::Key scratch = 0;
    ASSERT_EQ(reg.CreateKey(reg::kCurrentUser, kScratch, reg::kKeyAllAccess, scratch), reg::kOk);
    for (const char* sub : {"one\\deep", "two", "three"}) {
        Registry::Key k = 0;
        ASSERT_EQ(reg.CreateKey(reg::kCurrentUser, std::string(kScratch) + "\\" + sub,
                                reg::kKeyAllAccess, k),
                  reg::kOk);
        reg.CloseKey(k);
    }
    std::string name;
    std::vector<std::string> names;
    for (uint32_t i = 0; reg.EnumKey(scratch, i, name) == reg::kOk; ++i)
        names.push_back(name);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(reg.EnumKey(scratch, 3, name), reg::kNoMoreItems);

    // A key with subkeys does not go with RegDeleteKey, but with the tree.
    EXPECT_NE(reg.DeleteKey(scratch, "one"), reg::kOk);
    EXPECT_TRUE(reg.CanDeleteTrees());
    EXPECT_EQ(reg.DeleteTree(scratch, "one"), reg::kOk);
    EXPECT_EQ(reg.DeleteKey(scratch, "two"), reg::kOk);
    KeyInfo info;
    ASSERT_EQ(reg.QueryInfo(scratch, info), reg::kOk);
    EXPECT_EQ(info.subkeys, 1u);
    reg.CloseKey(scratch);
}

TEST_F(Win32RegistryTest, ReadOnlyKeysRefuseChanges) {
    Registry::Key key = 0;
    ASSERT_EQ(reg.CreateKey(reg::kCurrentUser, kScratch, reg::kKeyAllAccess, key), reg::kOk);
    reg.CloseKey(key);
    ASSERT_EQ(reg.CreateKey(reg::kCurrentUser, kScratch, reg::kKeyRead, key), reg::kOk);
    EXPECT_EQ(reg.SetValue(key, "v", reg::kSz, std::string("x\0", 2)), reg::kAccessDenied);
    reg.CloseKey(key);
}

}  // namespace
}  // namespace qb::platform
