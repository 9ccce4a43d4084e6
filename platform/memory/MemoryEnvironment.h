// An environment for unit tests: entries, family and user name as set.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "platform/Environment.h"

namespace qb::platform {

class MemoryEnvironment final : public Environment {
  public:
    bool ntFamily = true;
    std::string userName = "tester";

    // Defines (or redefines) a variable; a new one goes to the end.
    void Set(const std::string& name, const std::string& value) {
        for (auto& [n, v] : vars_) {
            if (text::EqualNoCase(n, name)) {
                v = value;
                return;
            }
        }
        vars_.emplace_back(name, value);
    }
    void Clear() { vars_.clear(); }

    std::string Expand(const std::string& text) override {
        return ExpandReferences(text, [this](std::string_view name) -> std::optional<std::string> {
            for (const auto& [n, v] : vars_) {
                if (text::EqualNoCase(n, name))
                    return v;
            }
            return std::nullopt;
        });
    }
    std::vector<std::string> Entries() override {
        std::vector<std::string> out;
        for (const auto& [n, v] : vars_)
            out.push_back(n + "=" + v);
        return out;
    }
    bool NtFamily() override { return ntFamily; }
    std::string UserName() override { return userName; }

  private:
    std::vector<std::pair<std::string, std::string>> vars_;
};

}  // namespace qb::platform
