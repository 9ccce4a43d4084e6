// The message and folder records and their keyed collections.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scanner/oe/CEmails.h"
#include "scanner/oe/CFolders.h"

namespace qb::oe {
namespace {

std::shared_ptr<CEmail> Mail(int32_t id) {
    auto m = std::make_shared<CEmail>();
    m->SetId(id);
    return m;
}

std::vector<int32_t> Ids(const CEmails& c) {
    std::vector<int32_t> ids;
    for (const auto& m : c)
        ids.push_back(m->Id());
    return ids;
}

template <class F>
RunError Raised(F f) {
    try {
        f();
    } catch (const RunError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return RunError(0, "", "");
}

TEST(Records, NewRecordsHoldTheirCreationValues) {
    CEmail m;
    EXPECT_EQ(m.ItemType(), 0);
    EXPECT_EQ(m.Id(), 0);
    EXPECT_EQ(m.DataOffset(), 0);
    EXPECT_EQ(m.Flag(), 0);
    EXPECT_EQ(m.MailDate(), "");
    EXPECT_EQ(m.SenderEMail(), "");
    EXPECT_EQ(m.Body(), "");
    CFolder f;
    EXPECT_EQ(f.ItemType(), 2);
    EXPECT_EQ(f.Number(), 0);
    EXPECT_EQ(f.Id(), 0);
    EXPECT_EQ(f.ParentId(), 0);
    EXPECT_EQ(f.Name(), "");
    EXPECT_EQ(f.FileName(), "");
}

TEST(Collections, AddPlacesElementsAtTheEndOrBeforeOrAfterAnother) {
    CEmails c;
    c.Add(Mail(1), "M_1");
    c.Add(Mail(2), "M_2");
    c.Add(Mail(3), "", CollectionIndex(1));                             // before position 1
    c.Add(Mail(4), "M_4", std::nullopt, CollectionIndex("m_1"));        // after key, any case
    c.Add(Mail(5), "M_5", CollectionIndex("M_2"), CollectionIndex(1));  // Before wins
    c.Add(Mail(6), "", std::nullopt, CollectionIndex(5));               // after the last one
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{3, 1, 4, 5, 2, 6}));
    EXPECT_EQ(c.Count(), 6);
    EXPECT_EQ(c.item(1)->Id(), 3);
    EXPECT_EQ(c.item(6)->Id(), 6);
    EXPECT_EQ(c.item("M_4")->Id(), 4);
    EXPECT_EQ(c.item("m_5")->Id(), 5);
}

TEST(Collections, RemoveByPositionOrKeyKeepsTheOrderOfTheRest) {
    CEmails c;
    for (int i = 1; i <= 5; ++i)
        c.Add(Mail(i), "M_" + std::to_string(i));
    c.Remove(2);
    c.Remove("M_4");
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{1, 3, 5}));
    // A removed key can be used again and the rest still resolve.
    c.Add(Mail(40), "M_4", CollectionIndex(1));
    EXPECT_EQ(c.item("M_4")->Id(), 40);
    EXPECT_EQ(c.item("M_5")->Id(), 5);
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{40, 1, 3, 5}));
}

TEST(Collections, InvalidPositionsAndKeysRaiseTheCollectionError) {
    CEmails c;
    c.Add(Mail(1), "M_1");
    c.Add(Mail(2), "M_2");
    for (const CollectionIndex& bad : {CollectionIndex(0), CollectionIndex(3), CollectionIndex(-1),
                                       CollectionIndex("M_9"), CollectionIndex("")}) {
        for (bool remove : {false, true}) {
            RunError e = Raised([&] {
                if (remove)
                    c.Remove(bad);
                else
                    c.item(bad);
            });
            EXPECT_EQ(e.Number(), -2147220992);
            EXPECT_EQ(e.Source(), "CEmails::Remove()");
            EXPECT_EQ(e.Description(), "Collection key or index is invalid");
        }
    }
    EXPECT_EQ(c.Count(), 2);
    CFolders f;
    RunError e = Raised([&] { f.item(1); });
    EXPECT_EQ(e.Number(), -2147220992);
    EXPECT_EQ(e.Source(), "CFolders::Remove()");
    EXPECT_EQ(e.Description(), "Collection key or index is invalid");
}

TEST(Collections, FailedAddLeavesTheCollectionUnchanged) {
    CEmails c;
    c.Add(Mail(1), "M_0");
    RunError dup = Raised([&] { c.Add(Mail(2), "m_0"); });
    EXPECT_EQ(dup.Number(), 457);
    EXPECT_EQ(dup.Description(),
              "This key is already associated with an element of this collection");
    RunError before = Raised([&] { c.Add(Mail(3), "M_3", CollectionIndex("M_7")); });
    EXPECT_EQ(before.Number(), 5);
    RunError after = Raised([&] { c.Add(Mail(4), "M_4", std::nullopt, CollectionIndex(2)); });
    EXPECT_EQ(after.Number(), 9);
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{1}));
    EXPECT_THROW(c.item("M_3"), RunError);
}

TEST(Collections, ClearEmptiesAndFreesTheKeysButSharedRecordsLiveOn) {
    CFolders c;
    auto kept = std::make_shared<CFolder>();
    kept->SetName("Inbox");
    c.Add(kept, "F_1");
    c.Add(std::make_shared<CFolder>(), "F_2");
    std::shared_ptr<CFolder> taken = c.item("F_1");
    kept.reset();
    c.Clear();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.begin(), c.end());
    EXPECT_EQ(taken->Name(), "Inbox");
    c.Add(std::make_shared<CFolder>(), "F_1");
    EXPECT_EQ(c.Count(), 1);
}

TEST(Collections, NewEnumIsASnapshotInCollectionOrder) {
    CEmails c;
    for (int i = 1; i <= 3; ++i)
        c.Add(Mail(i), "M_" + std::to_string(i));
    std::vector<int32_t> walked;
    for (const auto& m : c.NewEnum()) {
        walked.push_back(m->Id());
        c.Remove(1);  // changing the collection does not disturb the walk
    }
    EXPECT_EQ(walked, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(c.Count(), 0);
}

}  // namespace
}  // namespace qb::oe
