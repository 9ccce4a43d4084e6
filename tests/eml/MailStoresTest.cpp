// Where the stores lie, their folders, and reading message files, over an
// in-memory registry, environment and file system.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/memory/MemoryEnvironment.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/MemoryRegistry.h"
#include "scanner/eml/MailStores.h"

namespace qb::eml {
namespace {

namespace reg = platform::reg;

class MailStoresTest : public ::testing::Test {
  protected:
    MailStoresTest()
        : services_(
              platform::Services{.files = &files, .registry = &registry, .environment = &env}) {
        env.Set("USERPROFILE", "C:\\Documents and Settings\\jo");
    }

    void PutStoreRoot(const char* key, const std::string& text) {
        platform::Registry::Key k = 0;
        ASSERT_EQ(registry.CreateKey(reg::kCurrentUser, key, reg::kKeyAllAccess, k), reg::kOk);
        ASSERT_EQ(registry.SetValue(k, "Store Root", reg::kExpandSz, text + std::string(1, '\0')),
                  reg::kOk);
        registry.CloseKey(k);
    }

    std::vector<std::string> Names(const std::string& root, StoreKind kind) {
        std::vector<std::string> out;
        const StoreFolders store =
            FindFolders(files, root, kind, [&](const std::string& line) { notes.push_back(line); });
        complete = store.complete;
        for (const MailFolder& f : store.folders)
            out.push_back(f.path.substr(root.size() + 1) + (f.topLevel ? " (top)" : "") +
                          (f.listed ? "" : " (not listed)"));
        return out;
    }

    platform::MemoryFileSystem files;
    platform::MemoryRegistry registry;
    platform::MemoryEnvironment env;
    std::vector<std::string> notes;
    bool complete = false;

  private:
    platform::ScopedServices services_;
};

TEST_F(MailStoresTest, StoreRootComesFromTheRegistryOrTheLocalApplicationDataFolder) {
    EXPECT_EQ(StoreRoot(StoreKind::kWindowsLiveMail),
              "C:\\Documents and Settings\\jo\\Local Settings\\Application Data\\Microsoft\\"
              "Windows Live Mail");
    platform::Registry::Key key = 0;
    EXPECT_EQ(registry.OpenKey(reg::kCurrentUser, "Software\\Microsoft", reg::kKeyRead, key),
              reg::kFileNotFound)
        << "the look creates no key";
    env.Set("LOCALAPPDATA", "C:\\Users\\jo\\AppData\\Local");
    EXPECT_EQ(StoreRoot(StoreKind::kWindowsMail),
              "C:\\Users\\jo\\AppData\\Local\\Microsoft\\Windows Mail");
    env.Set("MAILDRIVE", "D:");
    PutStoreRoot("Software\\Microsoft\\Windows Live Mail", "%MAILDRIVE%\\Mail\\");
    EXPECT_EQ(StoreRoot(StoreKind::kWindowsLiveMail), "D:\\Mail");
    PutStoreRoot("Software\\Microsoft\\Windows Mail", " ");
    EXPECT_EQ(StoreRoot(StoreKind::kWindowsMail),
              "C:\\Users\\jo\\AppData\\Local\\Microsoft\\Windows Mail");
}

TEST_F(MailStoresTest, FindsTheFoldersOfEachLayout) {
    for (const char* file : {"W\\Local Folders\\Inbox\\1.eml",
                             "W\\Local Folders\\Inbox\\Sub\\2.eml", "W\\Elsewhere\\Inbox\\3.eml",
                             "L\\Hotmail (jo)\\Inbox\\1.eml", "L\\Hotmail (jo)\\account.oeaccount",
                             "L\\Storage Folders\\Spam\\4.eml", "L\\.hidden\\Inbox\\5.eml"})
        files.PutFile(file, "x");
    files.PutFolder("L\\Storage Folders\\Empty");
    EXPECT_EQ(
        Names("W", StoreKind::kWindowsMail),
        (std::vector<std::string>{"Local Folders\\Inbox (top)", "Local Folders\\Inbox\\Sub"}));
    EXPECT_EQ(Names("L", StoreKind::kWindowsLiveMail),
              (std::vector<std::string>{"Hotmail (jo)\\Inbox (top)", "Storage Folders\\Empty (top)",
                                        "Storage Folders\\Spam (top)"}));
    EXPECT_TRUE(notes.empty());
    EXPECT_TRUE(complete);
    EXPECT_TRUE(Names("missing", StoreKind::kWindowsLiveMail).empty());
    EXPECT_EQ(notes,
              std::vector<std::string>{"Unable to open folder missing: No such file or directory"});
    EXPECT_FALSE(complete);
}

TEST_F(MailStoresTest, AFolderThatCannotBeListedIsNamedAndMakesTheWalkIncomplete) {
    for (const char* file :
         {"L\\Hotmail (jo)\\Inbox\\1.eml", "L\\Gmail (jo)\\Inbox\\2.eml",
          "L\\Storage Folders\\Archive\\Junk\\3.eml", "L\\Storage Folders\\Junk\\4.eml"})
        files.PutFile(file, "x");
    const struct {
        const char* folder;  // below L, whose listing fails
        std::vector<std::string> found;
    } cases[] = {
        {"", {}},
        {"Gmail (jo)",
         {"Hotmail (jo)\\Inbox (top)", "Storage Folders\\Archive (top)",
          "Storage Folders\\Archive\\Junk", "Storage Folders\\Junk (top)"}},
        {"Storage Folders\\Archive",
         {"Gmail (jo)\\Inbox (top)", "Hotmail (jo)\\Inbox (top)",
          "Storage Folders\\Archive (top) (not listed)", "Storage Folders\\Junk (top)"}},
        {"Storage Folders\\Junk",
         {"Gmail (jo)\\Inbox (top)", "Hotmail (jo)\\Inbox (top)", "Storage Folders\\Archive (top)",
          "Storage Folders\\Archive\\Junk", "Storage Folders\\Junk (top) (not listed)"}},
    };
    for (const auto& c : cases) {
        const std::string folder = std::string("L") + (*c.folder ? "\\" : "") + c.folder;
        files.FailListing(folder, "Input/output error");
        notes.clear();
        EXPECT_EQ(Names("L", StoreKind::kWindowsLiveMail), c.found) << c.folder;
        EXPECT_EQ(notes, std::vector<std::string>{"Unable to open folder " + folder +
                                                  ": Input/output error"});
        EXPECT_FALSE(complete) << c.folder;
        files.FailListing(folder, "");
    }
    EXPECT_EQ(Names("L", StoreKind::kWindowsLiveMail).size(), 5u);
    EXPECT_TRUE(complete);
}

TEST_F(MailStoresTest, KnowsTheStandardFoldersInTheirTranslations) {
    EXPECT_TRUE(IsInboxName("INBOX"));
    EXPECT_TRUE(IsInboxName("Posteingang"));
    EXPECT_TRUE(
        IsInboxName("Bo\xEEte de r\xE9"
                    "ception"));
    EXPECT_FALSE(IsInboxName("Inbox2"));
    EXPECT_TRUE(IsSentItemsName("sent items"));
    EXPECT_TRUE(IsSentItemsName("\xC9l\xE9ments envoy\xE9s"));
    EXPECT_FALSE(IsSentItemsName("Sent"));
#ifndef _WIN32
    // UTF-8 names, as Linux lists a copied store's folders, in any case.
    for (const char* inbox :
         {"\xD0\x92\xD0\xA5\xD0\x9E\xD0\x94\xD0\xAF\xD0\xA9\xD0\x98\xD0\x95",  // ВХОДЯЩИЕ
          "\xE5\x8F\x97\xE4\xBF\xA1\xE3\x83\x88\xE3\x83\xAC\xE3\x82\xA4",      // 受信トレイ
          "Skrzynka odbiorcza",
          "BO\xC3\x8ETE DE R\xC3\x89"
          "CEPTION"})
        EXPECT_TRUE(IsInboxName(inbox)) << inbox;
    EXPECT_TRUE(
        IsSentItemsName("\xCE\x91\xCF\x80\xCE\xB5\xCF\x83\xCF\x84\xCE\xB1\xCE\xBB\xCE\xBC\xCE\xAD"
                        "\xCE\xBD\xCE\xB1"));  // Απεσταλμένα
    EXPECT_FALSE(IsSentItemsName("\xE5\x8F\x97\xE4\xBF\xA1\xE3\x83\x88\xE3\x83\xAC\xE3\x82\xA4"));
    // A configured name in the code page finds a folder named in UTF-8.
    EXPECT_TRUE(SameFolderName("\xC3\x89l\xC3\xA9ments", "\xE9L\xC9MENTS"));
    EXPECT_FALSE(SameFolderName("\xC3\x89l\xC3\xA9ments", "Elements"));
#endif
}

TEST_F(MailStoresTest, ListsMessageFilesAndReadsTheirHeaders) {
    files.PutFile("F\\b.EML", "From: b@x.org\r\n\r\n");
    files.PutFile("F\\a.eml", "From: a@x.org\r\n" + std::string(8000, 'X') +
                                  ": y\r\nTo: t@x.org\r\n\r\nTo: no@x.org");
    files.PutFile("F\\note.txt", "From: c@x.org\r\n");
    files.PutFile("F\\hidden.eml", "From: d@x.org\r\n", true);
    files.PutUnreadableFile("F\\locked.eml", "From: e@x.org\r\n");
    files.PutSpecialFile("F\\pipe.eml");
    files.PutSpecialFile("F\\device");
    MessageFileNames names;
    std::string why;
    ASSERT_TRUE(MessageFiles(files, "F", names, why));
    EXPECT_EQ(names.files, (std::vector<std::string>{"a.eml", "b.EML", "locked.eml"}));
    EXPECT_EQ(names.special, std::vector<std::string>{"pipe.eml"});
    std::string buffer;
    MessageHeader h;
    ASSERT_TRUE(ReadMessageFile(files, "F\\a.eml", buffer, h));
    EXPECT_EQ(h.sender, "a@x.org");
    EXPECT_EQ(h.recipients, std::vector<std::string>{"t@x.org"});
    EXPECT_FALSE(ReadMessageFile(files, "F\\locked.eml", buffer, h));
    EXPECT_FALSE(ReadMessageFile(files, "F\\gone.eml", buffer, h));
    EXPECT_FALSE(ReadMessageFile(files, "F\\pipe.eml", buffer, h));
    EXPECT_FALSE(MessageFiles(files, "G", names, why));
    EXPECT_EQ(why, "No such file or directory");
    files.FailListing("F", "Input/output error");
    EXPECT_FALSE(MessageFiles(files, "F", names, why));
    EXPECT_EQ(why, "Input/output error");
    EXPECT_TRUE(names.files.empty() && names.special.empty());
}

}  // namespace
}  // namespace qb::eml
