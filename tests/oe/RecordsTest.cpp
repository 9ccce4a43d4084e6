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

MailFields Stored(int32_t id, const char* sender) {
    MailFields f;
    f.id = id;
    f.text[MailFields::kSenderEMail] = sender;
    f.date = 0;
    return f;
}

TEST(Collections, ReaderMessagesAndAddedRecordsShareKeysAndObjects) {
    CEmails c;
    c.AddFields(Stored(5, "a@example.com"));
    EXPECT_EQ(Raised([&] { c.Add(Mail(9), "m_5"); }).Number(), 457);
    c.Add(Mail(6), "M_6");
    EXPECT_EQ(Raised([&] { c.AddFields(Stored(6, "b@example.com")); }).Number(), 457);
    EXPECT_EQ(c.Count(), 2);
    // "M_05" is written differently, so it is another key.
    c.Add(Mail(7), "M_05");
    EXPECT_EQ(c.item("m_05")->Id(), 7);
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{5, 6, 7}));

    // The record taken out is the one the walk and every later item show.
    std::shared_ptr<CEmail> taken = c.item("M_5");
    EXPECT_EQ(taken, c.item(1));
    EXPECT_EQ(taken->SenderEMail(), "a@example.com");
    EXPECT_EQ(taken->MailDate(), "1601-01-01 00:00:00");
    EXPECT_EQ(taken->DataOffset(), 0);
    taken->SetSenderEMail("changed@example.com");
    EXPECT_EQ((*c.begin())->SenderEMail(), "changed@example.com");
    EXPECT_EQ(c.NewEnum().front(), taken);

    // Removed, its key is free for a new message; the caller keeps the old one.
    c.Remove("M_5");
    c.AddFields(Stored(5, "a@example.com"));
    EXPECT_EQ(c.item("M_5")->SenderEMail(), "a@example.com");
    EXPECT_EQ(taken->SenderEMail(), "changed@example.com");
    EXPECT_EQ(Ids(c), (std::vector<int32_t>{6, 7, 5}));
    c.Clear();
    EXPECT_EQ(c.Count(), 0);
    c.AddFields(Stored(5, ""));
    EXPECT_EQ(c.item("M_5")->SenderEMail(), "");
}

TEST(Collections, ManyReaderKeysResolveAfterRemovals) {
    // Numbers that crowd together in the key table (neighbours, and
    // multiples of powers of two) and removals in between.
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < 3000; ++i)
        ids.push_back(i);
    for (int32_t i = 1; i < 3000; ++i)
        ids.push_back(i << 12);
    CEmails c;
    for (int32_t id : ids)
        c.AddFields(Stored(id, "s@example.com"));
    for (size_t k = 0; k < ids.size(); k += 3)
        c.Remove("M_" + std::to_string(ids[k]));
    for (size_t k = 0; k < ids.size(); ++k) {
        const std::string key = "M_" + std::to_string(ids[k]);
        if (k % 3 == 0)
            EXPECT_THROW(c.item(key), RunError) << key;
        else
            EXPECT_EQ(c.item(key)->Id(), ids[k]) << key;
    }
    EXPECT_EQ(c.Count(), static_cast<int32_t>(ids.size() - (ids.size() + 2) / 3));
}

}  // namespace
}  // namespace qb::oe
