// The Windows registry service against the system's own registry (Wine's in
// the cross build's test runs), in a scratch key below HKEY_CURRENT_USER (and
// one below HKEY_LOCAL_MACHINE for its registry view).
#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "platform/Registry.h"

// Last: windows.h defines names the other headers use.
#include "platform/win32/WinApi.h"

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

// A key below HKEY_LOCAL_MACHINE\Software in one registry view, made by the
// system's functions themselves; removed again at the end.
class RawMachineKey {
  public:
    static constexpr char kName[] = "Quellbox Test View";

    explicit RawMachineKey(REGSAM view) : view_(view) {
        Remove();
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string("Software\\") + kName).c_str(), 0,
                          nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key_, nullptr);
    }
    ~RawMachineKey() {
        if (key_)
            ::RegCloseKey(key_);
        Remove();
    }
    HKEY get() const { return key_; }

    // The DWORD value of that name, or -1 when there is none.
    int64_t Dword(const char* name) const {
        DWORD value = 0, size = sizeof value, type = 0;
        const LONG rc =
            ::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int64_t>(value) : -1;
    }

  private:
    void Remove() const {
        HKEY software;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view_, &software) ==
            ERROR_SUCCESS) {
            ::RegDeleteKeyA(software, kName);
            ::RegCloseKey(software);
        }
    }

    REGSAM view_;
    HKEY key_ = nullptr;
};

// Both builds see HKEY_LOCAL_MACHINE as the product's 32-bit programs do: a
// value only in the 32-bit view is read, a value written goes there, and in
// the 64-bit build the 64-bit view is left alone.
TEST(Win32RegistryViewTest, LocalMachineIsThe32BitProgramsView) {
    RawMachineKey view32(KEY_WOW64_32KEY);
    ASSERT_NE(view32.get(), nullptr);
#if defined(_WIN64)
    RawMachineKey view64(KEY_WOW64_64KEY);
    ASSERT_NE(view64.get(), nullptr);
    ASSERT_EQ(::RegSetValueExA(view64.get(), "which", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>("64-bit"), 7),
              ERROR_SUCCESS);
#endif
    ASSERT_EQ(::RegSetValueExA(view32.get(), "which", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>("32-bit"), 7),
              ERROR_SUCCESS);

    Registry& reg = DefaultRegistry();
    Registry::Key key = 0;
    ASSERT_EQ(reg.CreateKey(reg::kLocalMachine, std::string("Software\\") + RawMachineKey::kName,
                            reg::kKeyRead | reg::kKeyWrite, key),
              reg::kOk);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(reg.QueryValue(key, "which", type, data), reg::kOk);
    EXPECT_EQ(data, std::string("32-bit\0", 7));
    EXPECT_EQ(reg.SetValue(key, "counter", reg::kDword, std::string("\x07\0\0\0", 4)), reg::kOk);
    reg.CloseKey(key);

    EXPECT_EQ(view32.Dword("counter"), 7);
#if defined(_WIN64)
    EXPECT_EQ(view64.Dword("counter"), -1) << "nothing is written into the 64-bit view";
#endif
}

}  // namespace
}  // namespace qb::platform
