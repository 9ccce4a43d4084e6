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
    std::string path;    // the folder's full path
    std::string name;    // its display name: the directory's name
    bool topLevel;       // directly below an account (or Local Folders)
    bool listed = true;  // false: it could not be listed (the walk said so)
};

// A store's mail folders.
struct StoreFolders {
    std::vector<MailFolder> folders;
    // Every folder of the store could be listed. When one could not, the
    // folders below it are unknown: a folder the scans look for may be
    // among them.
    bool complete = true;
};

// Every mail folder of the store at root, in a fixed order (by path):
// Windows Mail's under "Local Folders", Windows Live Mail's under each
// account's directory and under "Storage Folders" (any directory at the
// root), subfolders included. A folder reached through a link is not
// entered (note gets a console line for each). A folder that cannot be
// listed, the store's top folder and the accounts' folders included, gets
// the console line "Unable to open folder <path>: <reason>" through note,
// is kept (not listed) when it is a mail folder itself, and makes the
// result incomplete.
StoreFolders FindFolders(platform::FileSystem& fs, const std::string& root, StoreKind kind,
                         const std::function<void(const std::string&)>& note);

// The console line of a folder that cannot be listed.
std::string UnlistedFolderLine(const std::string& path, const std::string& why);

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

// The message files of a folder: the names of its .eml files, sorted; and,
// sorted too, the names ending in .eml that are neither a file nor a folder
// (a pipe, socket or device, or a link that leads nowhere), which are no
// message that can be read.
struct MessageFileNames {
    std::vector<std::string> files;
    std::vector<std::string> special;
};

// Lists the message files of a folder (names only). False, with the
// system's reason in why, when the folder cannot be listed.
bool MessageFiles(platform::FileSystem& fs, const std::string& folder, MessageFileNames& out,
                  std::string& why);

// Reads the header section of the message file at path (at most
// kHeaderLimit bytes of it); buffer is scratch space kept between calls.
// False when the file cannot be opened or read.
bool ReadMessageFile(platform::FileSystem& fs, const std::string& path, std::string& buffer,
                     MessageHeader& header);

}  // namespace qb::eml
