// A registry, environment and file system in memory for the identity tests,
// with helpers that lay out Outlook Express keys.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "platform/memory/MemoryEnvironment.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/MemoryRegistry.h"

namespace qb::oe::test {

namespace reg = platform::reg;

constexpr const char* kId = "{11111111-2222-3333-4444-555555555555}";

class OEFixture : public ::testing::Test {
  protected:
    OEFixture()
        : services_(
              platform::Services{.files = &files, .registry = &registry, .environment = &env}) {
        env.Set("USERNAME", "jo");
        env.Set("USERPROFILE", "C:\\Documents and Settings\\jo");
        env.Set("SYSTEMROOT", "C:\\WINNT");
    }

    void Put(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
             const std::string& data) {
        platform::Registry::Key k = 0;
        ASSERT_EQ(registry.CreateKey(root, path, reg::kKeyAllAccess, k), reg::kOk);
        ASSERT_EQ(registry.SetValue(k, name, type, data), reg::kOk);
        registry.CloseKey(k);
    }
    void PutText(const std::string& path, const std::string& name, const std::string& text,
                 uint32_t type = reg::kSz) {
        Put(reg::kCurrentUser, path, name, type, text + std::string(1, '\0'));
    }
    void PutNumber(const std::string& path, const std::string& name, uint32_t n) {
        std::string data;
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>(n >> (8 * i) & 0xFF);
        Put(reg::kCurrentUser, path, name, reg::kDword, data);
    }
    // Type and data stored under HKEY_CURRENT_USER; type 0xFFFF when absent.
    std::pair<uint32_t, std::string> Stored(const std::string& path, const std::string& name) {
        platform::Registry::Key k = 0;
        uint32_t type = 0xFFFF;
        std::string data;
        if (registry.CreateKey(reg::kCurrentUser, path, reg::kKeyRead, k) == reg::kOk &&
            registry.QueryValue(k, name, type, data) != reg::kOk)
            type = 0xFFFF;
        registry.CloseKey(k);
        return {type, data};
    }

    platform::MemoryFileSystem files;
    platform::MemoryRegistry registry;
    platform::MemoryEnvironment env;

  private:
    platform::ScopedServices services_;
};

}  // namespace qb::oe::test
