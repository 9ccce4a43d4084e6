// The message stores of Windows Live Mail and Windows Mail: where they lie
// for the current user, and their mail folders (directories of .eml files).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/eml/MessageHeader.h"

namespace qb::platform {
class FileSystem;
}

namespace qb::eml {

enum class StoreKind { kWindowsLiveMail, kWindowsMail };

// The program's name as the console and status lines give it.
const char* StoreName(StoreKind kind);

// The store root of the current user, without a trailing backslash: the
// "Store Root" value (environment references expanded) of the program's key
// under HKEY_CURRENT_USER, or, when it is missing or empty, the program's
// folder under the local application data folder. The result may not exist.
std::string StoreRoot(StoreKind kind);

// One mail folder of a store.
struct MailFolder {
    std::string path;  // the folder's full path
    std::string name;  // its display name: the directory's name
    bool topLevel;     // directly below an account (or Local Folders)
};

// Every mail folder of the store at root, in a fixed order (by path):
// Windows Mail's under "Local Folders", Windows Live Mail's under each
// account's directory and under "Storage Folders" (any directory at the
// root), subfolders included. A folder reached through a link is not
// entered (note gets a console line for each), and a folder whose
// subfolders cannot be listed has none; when the store's top folder cannot
// be listed, note gets a console line too.
std::vector<MailFolder> FindFolders(platform::FileSystem& fs, const std::string& root,
                                    StoreKind kind,
                                    const std::function<void(const std::string&)>& note);

// Whether a folder name (as the file system lists it) is the standard Inbox
// or Sent Items folder's in a language the programs shipped in: compared in
// UTF-16 (platform::NameToWide: the code page and escaped units on Windows,
// UTF-8 names on Linux) without regard to case.
bool IsInboxName(std::string_view name);
bool IsSentItemsName(std::string_view name);
// Whether a folder name and a name the user configured (8-bit text of the
// code page, or UTF-8 where names are UTF-8) name the same folder, compared
// the same way.
bool SameFolderName(std::string_view folderName, std::string_view configured);

// The .eml files of a folder, sorted by name (names only). False when the
// folder cannot be listed.
bool MessageFiles(platform::FileSystem& fs, const std::string& folder,
                  std::vector<std::string>& names);

// Reads the header section of the message file at path (at most
// kHeaderLimit bytes of it); buffer is scratch space kept between calls.
// False when the file cannot be opened or read.
bool ReadMessageFile(platform::FileSystem& fs, const std::string& path, std::string& buffer,
                     MessageHeader& header);

}  // namespace qb::eml
