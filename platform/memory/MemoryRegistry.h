// An in-memory registry for unit tests: the same tree, rules and access
// checks as the registry kept in a file, without the file.
#pragma once

#include <string>

#include "platform/portable/RegistryTree.h"

namespace qb::platform {

class MemoryRegistry final : public TreeRegistry {
  public:
    // Whether DeleteTree is available (on Windows: whether shlwapi loads).
    void SetCanDeleteTrees(bool can) { canDeleteTrees_ = can; }
    // Stores string data as UTF-16, as the NT family's registry does.
    void SetWide(bool wide) { tree_.wide = wide; }
    // Makes every operation fail as a registry that cannot be read does.
    void SetUnreadable(std::string problem) { problem_ = std::move(problem); }

    std::string Problem() override { return problem_; }
    const RegTree& Contents() const { return tree_; }

  protected:
    RegTree* Tree() override { return problem_.empty() ? &tree_ : nullptr; }
    bool Commit() override { return true; }

  private:
    RegTree tree_;
    std::string problem_;
};

}  // namespace qb::platform
