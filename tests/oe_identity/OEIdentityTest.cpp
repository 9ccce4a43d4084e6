// The identity's display name and store root with all their fallbacks, and
// the Outlook Express blocked-senders list.
#include <gtest/gtest.h>

#include "scanner/oe/OEIdentity.h"
#include "tests/oe_identity/OEFixture.h"

namespace qb::oe::test {
namespace {

using Strings = std::vector<std::string>;

const std::string kIdKey = std::string("Identities\\") + kId;
const std::string kOeKey = kIdKey + "\\Software\\Microsoft\\Outlook Express\\5.0";
const std::string kTail =
    std::string("\\Application Data\\Identities\\") + kId + "\\Microsoft\\Outlook Express";
const std::string kProfileRoot =
    std::string("C:\\Documents and Settings\\jo\\Local Settings\\Application Data\\Identities\\") +
    kId + "\\Microsoft\\Outlook Express";
const std::string kSystemRoot = "C:\\WINNT\\Profiles\\jo" + kTail;

class StoreRootTest : public OEFixture {};

TEST_F(StoreRootTest, NtTakesTheExpandedStoreRootValueWhenItExists) {
    env.Set("OS", "Windows_NT");
    PutText(kIdKey, "Username", "Jo Main");
    PutText(kOeKey, "Store Root", "%UserProfile%\\Mail Store", reg::kExpandSz);
    files.PutFolder("C:\\Documents and Settings\\jo\\Mail Store");
    OEIdentity identity;
    identity.Identity(kId);
    EXPECT_EQ(identity.StoreRoot(), "C:\\Documents and Settings\\jo\\Mail Store");
    EXPECT_EQ(identity.Identity_Username(), "Jo Main");
    EXPECT_EQ(identity.UserName(), "jo");
    EXPECT_EQ(identity.OsName(), "Windows_NT");
}

TEST_F(StoreRootTest, NtFallsBackToTheProfileThenToTheSystemFolder) {
    env.Set("OS", "Windows_NT");
    PutText(kOeKey, "Store Root", "C:\\Gone", reg::kExpandSz);
    OEIdentity identity;
    identity.Identity(kId);
    // Neither exists: the third candidate stands.
    EXPECT_EQ(identity.StoreRoot(), kSystemRoot);
    EXPECT_EQ(identity.Identity_Username(), "");
    // The profile candidate counts when it exists, hidden or as a file.
    files.PutFile(kProfileRoot, "", true);
    identity.Identity(kId);
    EXPECT_EQ(identity.StoreRoot(), kProfileRoot);
    // Without a "Store Root" value the fallbacks are tried too: the empty
    // path does not exist.
    files.PutFolder("");
    OEIdentity other;
    other.Identity("{other}");
    EXPECT_EQ(other.StoreRoot(),
              "C:\\WINNT\\Profiles\\jo\\Application Data\\Identities\\{other}"
              "\\Microsoft\\Outlook Express");
}

TEST_F(StoreRootTest, OtherSystemsTryOnlyTheValueAndSystemRoot) {
    Put(reg::kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot", reg::kSz,
        std::string("C:\\WINDOWS\0", 11));
    files.PutFile(kProfileRoot, "");  // would be found on NT, never looked at here
    PutText(kOeKey, "Store Root", "C:\\Gone");
    OEIdentity identity;
    identity.Identity(kId);  // no OS variable: "%OS%" stays as written
    EXPECT_EQ(identity.OsName(), "%OS%");
    EXPECT_EQ(identity.StoreRoot(), "C:\\WINDOWS" + kTail);
    env.Set("OS", "windows_nt");  // compared with case
    identity.Identity(kId);
    EXPECT_EQ(identity.StoreRoot(), "C:\\WINDOWS" + kTail);
    files.PutFolder("C:\\Store");
    PutText(kOeKey, "Store Root", "C:\\Store");
    identity.Identity(kId);
    EXPECT_EQ(identity.StoreRoot(), "C:\\Store");
}

class BlockedListTest : public OEFixture {
  protected:
    const std::string criteria = kOeKey + "\\Block Senders\\Mail\\Criteria";
};

TEST_F(BlockedListTest, EntriesComeSortedWithoutRegardToCaseAndKeepDuplicates) {
    PutText(criteria + "\\0", "Value", "b@example.com");
    PutText(criteria + "\\1", "Value", "A@Example.com");
    PutText(criteria + "\\2", "Value", "c@example.com");
    OEIdentity identity;
    identity.Identity(kId);
    EXPECT_EQ(identity.BlockedListCount(), 0);  // not loaded by setting the identity
    identity.LoadBlockedList();
    EXPECT_EQ(identity.BlockedListCount(), 3);
    EXPECT_EQ(identity.BlockedListItems(),
              (Strings{"A@Example.com", "b@example.com", "c@example.com"}));
    identity.LoadBlockedList();
    EXPECT_EQ(identity.BlockedListCount(), 6);
    EXPECT_EQ(identity.BlockedListItems(),
              (Strings{"A@Example.com", "A@Example.com", "b@example.com", "b@example.com",
                       "c@example.com", "c@example.com"}));
}

TEST_F(BlockedListTest, ASubkeyWithoutValueAddsEmptyTextAndNoListAddsNothing) {
    PutText(criteria + "\\0", "Value", "x@example.com");
    PutText(criteria + "\\1", "Other", "ignored");
    PutNumber(criteria + "\\2", "Value", 7);
    OEIdentity identity;
    identity.Identity(kId);
    identity.LoadBlockedList();
    EXPECT_EQ(identity.BlockedListItems(), (Strings{"", "7", "x@example.com"}));

    OEIdentity none;
    none.Identity("{no-list}");
    none.LoadBlockedList();
    EXPECT_EQ(none.BlockedListCount(), 0);
    EXPECT_TRUE(none.BlockedListItems().empty());
}

}  // namespace
}  // namespace qb::oe::test
