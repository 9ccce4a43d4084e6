// RegOp against the in-memory registry and the registry kept in a .reg file:
// reading by type and option, writing by variant type, the value cache,
// enumeration, deletion and the error texts.
#include <gtest/gtest.h>

#include <memory>

#include "common/RunError.h"
#include "platform/Platform.h"
#include "platform/memory/MemoryEnvironment.h"
#include "platform/memory/MemoryRegistry.h"
#include "platform/memory/RecordingUserInterface.h"
#include "platform/portable/FileRegistry.h"
#if defined(_WIN32)
#include "platform/win32/Win32FileSystem.h"
namespace qb::platform {
using NativeFileSystem = Win32FileSystem;
}
#else
#include "platform/posix/PosixFileSystem.h"
namespace qb::platform {
using NativeFileSystem = PosixFileSystem;
}
#endif
#include "scanner/config/RegOp.h"
#include "tests/support/TempFolder.h"

namespace qb::config {
namespace {

namespace reg = platform::reg;
using Strings = std::vector<std::string>;

constexpr const char* kKey = "Software\\Ferrowin Tessaly Desktop Client";

enum class Backing { kMemory, kFile };

class RegOpTest : public ::testing::TestWithParam<Backing> {
  protected:
    void SetUp() override {
        if (GetParam() == Backing::kMemory) {
            registry = std::make_unique<platform::MemoryRegistry>();
        } else {
            registry = std::make_unique<platform::FileRegistry>(dir / "registry.reg", &files);
        }
        env.Set("USERPROFILE", "C:\\Documents and Settings\\jo");
        env.Set("SYSTEMROOT", "C:\\WINNT");
        services = std::make_unique<platform::ScopedServices>(
            platform::Services{.ui = &ui, .registry = registry.get(), .environment = &env});
    }

    // Stores a value directly, bypassing RegOp.
    void Put(const std::string& path, const std::string& name, uint32_t type,
             const std::string& data) {
        platform::Registry::Key k = 0;
        ASSERT_EQ(registry->CreateKey(reg::kLocalMachine, path, reg::kKeyAllAccess, k), reg::kOk);
        ASSERT_EQ(registry->SetValue(k, name, type, data), reg::kOk);
        registry->CloseKey(k);
    }
    // Type and data as stored; type 0xFFFF when there is no such value.
    std::pair<uint32_t, std::string> Stored(const std::string& path, const std::string& name,
                                            uint32_t root = reg::kLocalMachine) {
        platform::Registry::Key k = 0;
        uint32_t type = 0xFFFF;
        std::string data;
        if (registry->CreateKey(root, path, reg::kKeyRead, k) == reg::kOk &&
            registry->QueryValue(k, name, type, data) != reg::kOk)
            type = 0xFFFF;
        registry->CloseKey(k);
        return {type, data};
    }
    bool KeyExists(const std::string& path) {
        // Looks without creating: enumerate from the parent.
        const size_t slash = path.rfind('\\');
        platform::Registry::Key k = 0;
        if (registry->CreateKey(reg::kLocalMachine, path.substr(0, slash), reg::kKeyRead, k) !=
            reg::kOk)
            return false;
        std::string name;
        bool found = false;
        for (uint32_t i = 0; registry->EnumKey(k, i, name) == reg::kOk; ++i)
            found = found || text::EqualNoCase(name, path.substr(slash + 1));
        registry->CloseKey(k);
        return found;
    }
    std::unique_ptr<RegOp> Op(const std::string& path = kKey, int32_t options = 0) {
        auto op = std::make_unique<RegOp>();
        op->root(reg::kLocalMachine);
        op->key(path);
        op->Options(options);
        return op;
    }

    test::TempFolder dir;
    platform::NativeFileSystem files;
    std::unique_ptr<platform::TreeRegistry> registry;
    platform::MemoryEnvironment env;
    platform::RecordingUserInterface ui;
    std::unique_ptr<platform::ScopedServices> services;
};

TEST_P(RegOpTest, ReadsAMissingKeyAsEmptyAndCreatesIt) {
    auto op = Op("Software\\New\\Key");
    EXPECT_TRUE(IsEmpty(op->Value("anything")));
    EXPECT_TRUE(KeyExists("Software\\New\\Key"));
    EXPECT_EQ(op->ValueCount(), 0);
    EXPECT_EQ(op->KeyCount(), 0);
    EXPECT_TRUE(op->AllValues().empty());
    EXPECT_TRUE(op->AllKeys().empty());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_P(RegOpTest, MapsEachTypeAsTheOptionsSay) {
    Put(kKey, "Store Root", reg::kExpandSz, std::string("%USERPROFILE%\\Mail\0junk", 23));
    Put(kKey, "Text", reg::kSz, std::string("abc\0def", 7));
    Put(kKey, "Number", reg::kDword, std::string("\xff\xff\xff\xff", 4));
    Put(kKey, "Short", reg::kDword, std::string("\x05", 1));
    Put(kKey, "Multi", reg::kMultiSz, std::string("a\0b\0\0c\0\0", 8));
    Put(kKey, "EmptyMulti", reg::kMultiSz, std::string("\0", 1));
    Put(kKey, "Bin", reg::kBinary, "\x01\x02");
    Put(kKey, "None", reg::kNone, "");
    Put(kKey, "Big", reg::kDwordBigEndian, std::string("\0\0\0\x01", 4));
    Put(kKey, "Long", reg::kExpandSz, std::string("%LONG%\0", 7));
    env.Set("LONG", std::string(1500, 'x'));

    auto plain = Op();
    EXPECT_EQ(plain->Value("store root"), RegValue(std::string("%USERPROFILE%\\Mail")));
    EXPECT_EQ(plain->Value("STORE ROOT"), plain->Value("Store Root"));
    EXPECT_EQ(plain->Value("Text"), RegValue(std::string("abc")));
    EXPECT_EQ(plain->Value("Number"), RegValue(int32_t{-1}));
    EXPECT_EQ(plain->Value("Short"), RegValue(int32_t{5}));
    EXPECT_EQ(plain->Value("Multi"), RegValue(std::string("a\0b", 3)));
    for (const char* name : {"Bin", "None", "Big"})
        EXPECT_EQ(plain->Value(name), RegValue(std::string("(unsupported data format)"))) << name;
    EXPECT_TRUE(IsEmpty(plain->Value("Missing")));
    EXPECT_TRUE(IsEmpty(plain->Value()));  // no default value

    auto expanded = Op(kKey, RegOp::kExpandOnRead | RegOp::kMultiAsArray);
    EXPECT_EQ(expanded->Value("Store Root"),
              RegValue(std::string("C:\\Documents and Settings\\jo\\Mail")));
    // Expansions longer than 1023 characters are kept whole.
    EXPECT_EQ(std::get<std::string>(expanded->Value("Long")).size(), 1500u);
    EXPECT_EQ(expanded->Value("Multi"), RegValue(Strings{"a", "b"}));
    EXPECT_EQ(expanded->Value("EmptyMulti"), RegValue(Strings{}));
    // Options 16 and above are ignored.
    expanded->Options(16);
    EXPECT_EQ(expanded->Value("Multi"), RegValue(Strings{"a", "b"}));

    const auto all = plain->AllValues();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[0].first, "Store Root");
    EXPECT_EQ(all[2], (std::pair<std::string, RegValue>("Number", int32_t{-1})));
    EXPECT_EQ(all[9].first, "Long");
}

TEST_P(RegOpTest, WritesByVariantTypeAndExistingType) {
    Put(kKey, "Limit", reg::kDword, std::string("\1\0\0\0", 4));
    Put(kKey, "Name", reg::kSz, std::string("x\0", 2));
    Put(kKey, "Bin", reg::kBinary, "\x01");
    auto op = Op();
    op->Value("Limit", std::string("5"));
    EXPECT_EQ(Stored(kKey, "Limit"), std::make_pair(reg::kDword, std::string("\x05\0\0\0", 4)));
    op->Value("Name", int32_t{42});
    EXPECT_EQ(Stored(kKey, "Name"), std::make_pair(reg::kSz, std::string("42\0", 3)));
    op->Value("Port", int16_t{8110});
    EXPECT_EQ(Stored(kKey, "Port"), std::make_pair(reg::kDword, std::string("\xAE\x1F\0\0", 4)));
    op->Value("Root", std::string("%userprofile%\\x"));
    EXPECT_EQ(Stored(kKey, "Root").first, reg::kExpandSz);
    op->Value("Plain", std::string("%UNDEFINED%\\x"));
    EXPECT_EQ(Stored(kKey, "Plain").first, reg::kSz);
    op->Value("Half", 1.5);
    EXPECT_EQ(Stored(kKey, "Half"), std::make_pair(reg::kSz, std::string("1.5\0", 4)));
    op->Value("Flag", true);
    EXPECT_EQ(Stored(kKey, "Flag"), std::make_pair(reg::kSz, std::string("True\0", 5)));
    op->Value("List", Strings{"a", "b"});
    EXPECT_EQ(Stored(kKey, "List"), std::make_pair(reg::kMultiSz, std::string("a\0b\0\0", 5)));
    op->Value("", int32_t{7});
    EXPECT_EQ(Stored(kKey, ""), std::make_pair(reg::kSz, std::string("7\0", 2)));
    op->Value("Nothing", RegValue{});
    EXPECT_EQ(Stored(kKey, "Nothing").first, 0xFFFFu);

    // Text that is no number over a REG_DWORD value goes to the caller.
    try {
        op->Value("Limit", std::string("many"));
        ADD_FAILURE() << "no error raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), err::kTypeMismatch);
    }
    EXPECT_THROW(op->Value("Limit", 3e10), RunError);
    // With option 1 numbers become text, even over a REG_DWORD value.
    op->Options(RegOp::kNumbersAsText);
    op->Value("Count", int32_t{3});
    EXPECT_EQ(Stored(kKey, "Count"), std::make_pair(reg::kSz, std::string("3\0", 2)));
    op->Value("Limit", int32_t{9});
    EXPECT_EQ(Stored(kKey, "Limit"), std::make_pair(reg::kSz, std::string("9\0", 2)));

    // A value of another type is not overwritten; the text shows only with option 8.
    op->Value("Bin", std::string("y"));
    EXPECT_TRUE(ui.boxes.empty());
    op->Options(RegOp::kShowErrors);
    op->Value("Bin", std::string("y"));
    EXPECT_EQ(Stored(kKey, "Bin"), std::make_pair(reg::kBinary, std::string("\x01")));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "Existing value has unsupported data type and will not be overwritten");
    EXPECT_EQ(ui.boxes[0].title, "Registry Error");
    EXPECT_EQ(ui.boxes[0].style, platform::mb::kIconExclamation);
}

TEST_P(RegOpTest, EveryWriteOrDeleteIsSeenByTheNextRead) {
    Put(kKey, "a", reg::kSz, std::string("1\0", 2));
    for (bool nt : {true, false}) {
        env.ntFamily = nt;
        auto op = Op();
        EXPECT_EQ(op->Value("a"), RegValue(std::string("1"))) << nt;
        // A longer name and longer data than any before.
        const std::string name = nt ? "a much longer value name" : "another long value name";
        op->Value(name, std::string(200, 'z'));
        EXPECT_EQ(op->Value(name), RegValue(std::string(200, 'z'))) << nt;
        EXPECT_EQ(op->ValueCount(), nt ? 2 : 3);
        EXPECT_TRUE(op->DeleteValue(name));
        EXPECT_TRUE(IsEmpty(op->Value(name)));
        EXPECT_FALSE(op->DeleteValue(name));
        op->Value(name, std::string("again"));
    }
    EXPECT_EQ(Op()->ValueCount(), 3);
}

TEST_P(RegOpTest, EnumeratesAndDeletesKeys) {
    Put("Software\\Top\\Mid\\Leaf\\Deep", "v", reg::kSz, std::string("1\0", 2));
    Put("Software\\Top\\Mid\\Other", "v", reg::kSz, std::string("1\0", 2));
    Put("Software\\Top\\Mid\\Alone", "v", reg::kSz, std::string("1\0", 2));
    auto mid = Op("Software\\Top\\Mid");
    EXPECT_EQ(mid->AllKeys(), (Strings{"Alone", "Leaf", "Other"}));
    EXPECT_EQ(mid->KeyCount(), 3);

    // A key right below the root is never deleted.
    auto top = Op("Software");
    EXPECT_FALSE(top->DeleteKey());
    EXPECT_TRUE(KeyExists("Software\\Top"));
    auto trailing = Op("Software\\Top\\");
    EXPECT_FALSE(trailing->DeleteKey());

    // Three components: the third goes with its subkeys, the object points at the first two.
    auto leaf = Op("Software\\Top\\Mid\\Leaf");
    EXPECT_TRUE(leaf->DeleteKey());
    EXPECT_FALSE(KeyExists("Software\\Top\\Mid\\Leaf"));
    EXPECT_EQ(leaf->AllKeys(), (Strings{"Alone", "Other"}));
    EXPECT_EQ(leaf->KeyCount(), 2);

    // Without tree deletion a key with subkeys stays.
    if (auto* memory = dynamic_cast<platform::MemoryRegistry*>(registry.get())) {
        memory->SetCanDeleteTrees(false);
        Put("Software\\Top\\Mid\\Other\\Sub", "v", reg::kSz, std::string("1\0", 2));
        EXPECT_FALSE(Op("Software\\Top\\Mid\\Other")->DeleteKey());
        EXPECT_TRUE(KeyExists("Software\\Top\\Mid\\Other"));
        EXPECT_TRUE(Op("Software\\Top\\Mid\\Alone")->DeleteKey());
        EXPECT_FALSE(KeyExists("Software\\Top\\Mid\\Alone"));
    }
}

TEST_P(RegOpTest, RootsKeysAndErrorTexts) {
    Put(kKey, "where", reg::kSz, std::string("machine\0", 8));
    auto op = std::make_unique<RegOp>();
    op->Options(RegOp::kShowErrors);
    EXPECT_TRUE(IsEmpty(op->Value("where")));
    EXPECT_EQ(op->KeyCount(), 0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "No Key name specified!");
    EXPECT_FALSE(op->DeleteKey());
    // HKEY_CURRENT_USER first; a new root reopens the key named.
    op->key(kKey);
    EXPECT_TRUE(IsEmpty(op->Value("where")));
    op->root(reg::kLocalMachine);
    EXPECT_EQ(op->Value("where"), RegValue(std::string("machine")));
    op->key("");  // ignored
    EXPECT_EQ(op->Value("where"), RegValue(std::string("machine")));
    op->key("SOFTWARE\\FERROWIN TESSALY DESKTOP CLIENT");  // same key: nothing changes
    EXPECT_EQ(op->Value("WHERE"), RegValue(std::string("machine")));
    // Roots other than the predefined ones cannot be opened.
    ui.boxes.clear();
    op->root(0x80000004);
    EXPECT_TRUE(IsEmpty(op->Value("where")));
    EXPECT_EQ(op->ValueCount(), 0);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "Could not open Registry Key!");
    op->root(0);  // 0 is HKEY_CURRENT_USER
    EXPECT_TRUE(IsEmpty(op->Value("where")));
}

INSTANTIATE_TEST_SUITE_P(Backings, RegOpTest, ::testing::Values(Backing::kMemory, Backing::kFile),
                         [](const auto& info) {
                             return info.param == Backing::kMemory ? "Memory" : "File";
                         });

TEST(RegOpUnreadable, AnUnreadableRegistryReadsEmptyAndIsNeverWritten) {
    test::TempFolder dir;
    const std::string bad = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"v\"=dword:zz\r\n";
    dir.Write("registry.reg", bad);
    platform::NativeFileSystem files;
    platform::FileRegistry registry(dir / "registry.reg", &files);
    platform::MemoryEnvironment env;
    platform::RecordingUserInterface ui;
    platform::ScopedServices services({.ui = &ui, .registry = &registry, .environment = &env});
    RegOp op;
    op.root(reg::kLocalMachine);
    op.key("Software");
    EXPECT_TRUE(IsEmpty(op.Value("v")));
    op.Value("v", int32_t{1});
    EXPECT_FALSE(op.DeleteValue("v"));
    EXPECT_EQ(op.KeyCount(), 0);
    EXPECT_EQ(dir.Read("registry.reg"), bad);
    EXPECT_NE(registry.Problem().find("line 3"), std::string::npos);
}

TEST(RegValueConversions, FollowTheScannersRules) {
    EXPECT_EQ(ToLong(std::string(" 12 ")), 12);
    EXPECT_EQ(ToLong(std::string("2.5")), 2);
    EXPECT_EQ(ToLong(std::string("3.5")), 4);
    EXPECT_EQ(ToLong(std::string("&HFF")), 255);
    EXPECT_EQ(ToLong(true), -1);
    EXPECT_EQ(ToInteger(std::string("8110")), 8110);
    EXPECT_THROW(ToInteger(std::string("40000")), RunError);
    EXPECT_THROW(ToLong(std::string("")), RunError);
    EXPECT_THROW(ToLong(std::string("inf")), RunError);
    EXPECT_THROW(ToLong(Strings{"1"}), RunError);
    EXPECT_EQ(ToText(RegValue{}), "");
    EXPECT_EQ(ToText(int16_t{-3}), "-3");
    EXPECT_EQ(ToText(0.1), "0.1");
    EXPECT_TRUE(IsNumeric(std::string("1e3")));
    EXPECT_FALSE(IsNumeric(std::string("1x")));
    EXPECT_FALSE(IsNumber(std::string("1")));
}

}  // namespace
}  // namespace qb::config
