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
    // Which standard folder it is (field 0x09): one of the kinds below, 0
    // for any other folder.
    int32_t FolderKind() const { return folderKind_; }
    void SetFolderKind(int32_t v) { folderKind_ = v; }
    // Where its messages come from (field 0x0A): 0 news, 1 IMAP, 3 the
    // local store (Local Folders).
    int32_t StoreType() const { return storeType_; }
    void SetStoreType(int32_t v) { storeType_ = v; }

  private:
    int32_t number_ = 0;
    int32_t itemType_ = 2;
    std::string name_;
    std::string fileName_;
    int32_t id_ = 0;
    int32_t parentId_ = 0;
    int32_t folderKind_ = 0;
    int32_t storeType_ = 0;
};

// The standard folders as FolderKind gives them.
inline constexpr int32_t kFolderInbox = 1;
inline constexpr int32_t kFolderOutbox = 2;
inline constexpr int32_t kFolderSentItems = 3;
inline constexpr int32_t kFolderDeletedItems = 4;
inline constexpr int32_t kFolderDrafts = 5;
// The store type of a folder of Local Folders.
inline constexpr int32_t kLocalStore = 3;

}  // namespace qb::oe
