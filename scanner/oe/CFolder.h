// One folder of the folder file Folders.dbx, as the .dbx reader fills it. A
// plain property holder like CEmail.
#pragma once

#include <cstdint>
#include <string>

namespace qb::oe {

class CFolder {
  public:
    // Never filled by the reader; stays 0.
    int32_t Number() const { return number_; }
    void SetNumber(int32_t v) { number_ = v; }
    // 2: a folder.
    int32_t ItemType() const { return itemType_; }
    void SetItemType(int32_t v) { itemType_ = v; }
    // The folder's display name.
    const std::string& Name() const { return name_; }
    void SetName(std::string v) { name_ = std::move(v); }
    // The folder's .dbx file name, without directory.
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string v) { fileName_ = std::move(v); }
    int32_t Id() const { return id_; }
    void SetId(int32_t v) { id_ = v; }
    // Id of the parent folder.
    int32_t ParentId() const { return parentId_; }
    void SetParentId(int32_t v) { parentId_ = v; }

  private:
    int32_t number_ = 0;
    int32_t itemType_ = 2;
    std::string name_;
    std::string fileName_;
    int32_t id_ = 0;
    int32_t parentId_ = 0;
};

}  // namespace qb::oe
