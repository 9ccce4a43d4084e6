// SortedList when lookups and additions alternate: records appended after a
// sort are merged into the sorted part. Checked against a reference model
// (an ordered map of equal-key groups), in both sort modes, with duplicates,
// deleted records and compactions.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "scanner/lists/NumericKey.h"
#include "scanner/lists/SortedList.h"

namespace qb::lists {
namespace {

using Strings = std::vector<std::string>;
using Record = std::pair<std::string, int>;  // key as added, value
using Records = std::vector<Record>;         // kept sorted, compared as multisets

// The list's ordering of keys, for std::map.
struct KeyLess {
    int32_t mode;
    bool operator()(const std::string& a, const std::string& b) const {
        if (mode == 0)
            return *ParseNumericKey(a) < *ParseNumericKey(b);
        return text::CompareNoCase(a, b) < 0;
    }
};

// The expected content: one entry per group of equal keys, in key order,
// holding the group's records.
using Model = std::map<std::string, Records, KeyLess>;

// The list's live records as groups of equal keys, in the list's order.
std::vector<Records> GroupsOf(SortedList<int>& list, KeyLess less) {
    const Strings keys = list.keys();
    const std::vector<int> values = list.Items();
    EXPECT_EQ(keys.size(), values.size());
    std::vector<Records> groups;
    for (size_t i = 0; i < keys.size() && i < values.size(); ++i) {
        if (groups.empty() || less(groups.back().front().first, keys[i]))
            groups.emplace_back();
        else
            EXPECT_FALSE(less(keys[i], groups.back().front().first)) << "out of order: " << keys[i];
        groups.back().emplace_back(keys[i], values[i]);
    }
    for (Records& g : groups)
        std::sort(g.begin(), g.end());
    return groups;
}

Records Minus(const Records& a, const Records& b) {
    Records out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

class Checker {
  public:
    explicit Checker(int32_t mode) : less_{mode}, model_(KeyLess{mode}) { list_.SetSortMode(mode); }

    SortedList<int>& list() { return list_; }
    const Model& model() const { return model_; }

    void Add(const std::string& key) {
        list_.Add(key, nextValue_);
        Insert(key, nextValue_++);
    }

    void Exists(const std::string& key) {
        ASSERT_EQ(list_.Exists(key), model_.count(key) != 0) << key;
        ExpectSame();
    }

    // The value of one of the group's records, or none.
    void Item(const std::string& key) {
        const std::optional<int> v = list_.item(key);
        auto g = model_.find(key);
        ASSERT_EQ(v.has_value(), g != model_.end()) << key;
        if (v) {
            EXPECT_TRUE(std::any_of(g->second.begin(), g->second.end(),
                                    [&](const Record& r) { return r.second == *v; }));
        }
        ExpectSame();
    }

    // One record of the group goes (which one is not defined among equal keys).
    void Remove(const std::string& key) {
        list_.Remove(key);
        ExpectOneChanged(key, std::nullopt);
    }

    void RemoveTop() {
        const std::optional<std::string> top =
            model_.empty() ? std::nullopt : std::optional(model_.begin()->first);
        list_.RemoveTop();
        if (top)
            ExpectOneChanged(*top, std::nullopt);
        else
            ExpectSame();
    }

    // One record of the group takes the new value.
    void SetItem(const std::string& key) {
        const int value = nextValue_++;
        list_.SetItem(key, value);
        ExpectOneChanged(key, value);
    }

    void Clear() {
        list_.Clear();
        model_.clear();
        ExpectSame();
    }

    // The list holds exactly the model's groups, in the model's order.
    void ExpectSame() {
        const std::vector<Records> groups = GroupsOf(list_, less_);
        ASSERT_EQ(groups.size(), model_.size());
        size_t total = 0;
        auto g = groups.begin();
        for (const auto& [key, records] : model_) {
            ASSERT_EQ(*g, records) << "group of " << key;
            total += records.size();
            ++g;
        }
        ASSERT_EQ(static_cast<size_t>(list_.Count()), total);
    }

  private:
    void Insert(const std::string& key, int value) {
        Records& g = model_[key];
        g.emplace(std::upper_bound(g.begin(), g.end(), Record{key, value}), key, value);
    }

    // The group of key lost one record (newValue empty) or one of its records
    // took newValue; every other group is unchanged. The model follows.
    void ExpectOneChanged(const std::string& key, std::optional<int> newValue) {
        auto g = model_.find(key);
        if (g == model_.end()) {
            ExpectSame();
            return;
        }
        std::vector<Records> groups = GroupsOf(list_, less_);
        auto it = std::find_if(groups.begin(), groups.end(), [&](const Records& r) {
            return !less_(r.front().first, key) && !less_(key, r.front().first);
        });
        const Records now = it == groups.end() ? Records{} : *it;
        const Records gone = Minus(g->second, now);
        const Records came = Minus(now, g->second);
        ASSERT_EQ(gone.size(), 1u) << key;
        if (newValue) {
            ASSERT_EQ(came, (Records{{gone[0].first, *newValue}})) << key;
        } else {
            ASSERT_TRUE(came.empty()) << key;
        }
        if (now.empty())
            model_.erase(g);
        else
            g->second = now;
        ExpectSame();
    }

    KeyLess less_;
    SortedList<int> list_;
    Model model_;
    int nextValue_ = 1;
};

// A key from a small pool, so that keys recur (duplicates, lookups of
// removed keys), written in one of the forms that compare equal.
std::string PoolKey(int32_t mode, std::mt19937& rng) {
    const int n = static_cast<int>(rng() % 40);
    if (mode == 0) {
        const std::string number = std::to_string(n * 7 - 100);
        switch (rng() % 4) {
            case 0:
                return number + ".0";
            case 1:
                return " " + number;
            default:
                return number;
        }
    }
    // Words of letters, digits and Windows-1252 letters with a case pair.
    static const char kLetters[] = "ab\xe4z0_";
    std::string key;
    for (int k = n; k > 0 || key.empty(); k /= 6)
        key += kLetters[k % 6];
    for (char& c : key) {
        if (rng() % 2)
            c = text::ToUpper(c);
    }
    return key;
}

void RunRandomSequence(int32_t mode, unsigned seed) {
    std::mt19937 rng(seed);
    Checker check(mode);
    int compactions = 0, merges = 0;
    for (int step = 0; step < 6000; ++step) {
        // Mostly single additions between lookups, sometimes longer runs;
        // none while the list is long, so that removals shorten it again.
        unsigned burst = rng() % 10 == 0 ? rng() % 40 : rng() % 3;
        if (check.list().Count() > 200)
            burst = 0;
        for (unsigned i = 0; i < burst; ++i)
            check.Add(PoolKey(mode, rng));
        merges += burst > 0 && burst < static_cast<unsigned>(check.list().UsedSlots()) / 2;
        const int usedBefore = check.list().UsedSlots();
        const std::string key = PoolKey(mode, rng);
        switch (rng() % 20) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4:
            case 5:
                check.Exists(key);
                break;
            case 6:
            case 7:
                check.Item(key);
                break;
            case 8:
            case 9:
            case 10:
            case 11:
            case 12:
                check.Remove(key);
                break;
            case 13:
            case 14:
                check.RemoveTop();
                break;
            case 15:
                check.SetItem(key);
                break;
            case 16:
                if (rng() % 8 == 0)
                    check.Clear();
                break;
            default:
                check.ExpectSame();
                break;
        }
        if (::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "mode " << mode << ", step " << step;
            return;
        }
        compactions += check.list().UsedSlots() < usedBefore && check.list().UsedSlots() > 0;
    }
    // The sequence went through the paths it is meant to test.
    EXPECT_GT(compactions, 50);
    EXPECT_GT(merges, 1000);
}

TEST(SortedListMergeTest, RandomSequencesMatchTheModelInNumericMode) {
    RunRandomSequence(0, 11);
}

TEST(SortedListMergeTest, RandomSequencesMatchTheModelInTextMode) {
    RunRandomSequence(1, 12);
}

// A long list that grows by lookups and additions in turn: the newest
// records are merged into the tail's own sorted run, the run into the list,
// and removals land in every part. Only lookups are checked on the way (any
// look at the whole list would sort it); the whole list at the end.
TEST(SortedListMergeTest, LongTailsMatchTheModelInBothModes) {
    for (const int32_t mode : {0, 1}) {
        SCOPED_TRACE(mode);
        SortedList<int> list;
        list.SetSortMode(mode);
        std::multiset<std::string, KeyLess> model(KeyLess{mode});
        const auto key = [mode](int i) {
            const std::string n = std::to_string(i * 7919 % 10007);
            return mode == 0 ? n : (i % 2 ? "K" : "k") + n + "@x";
        };
        const auto add = [&](const std::string& k) {
            list.Add(k, 0);
            model.insert(k);
        };
        const auto remove = [&](const std::string& k) {
            list.Remove(k);
            if (const auto it = model.find(k); it != model.end())
                model.erase(it);
        };
        for (int i = 0; i < 3000; ++i)
            add(key(i));
        for (int i = 3000; i < 9000; ++i) {
            for (const int probe : {i, i - 1, i / 3, i / 2 + 7})
                ASSERT_EQ(list.Exists(key(probe)), model.count(key(probe)) != 0) << i;
            add(key(i));
            if (i % 5 == 0)
                remove(key(i - 17));
            if (i % 11 == 0)
                remove(key(i / 2));
        }
        Strings expected;
        for (const std::string& k : model)
            expected.push_back(k);
        Strings keys = list.keys();
        // Equal keys may come in any order: compare them as the model orders them.
        std::stable_sort(keys.begin(), keys.end(), KeyLess{mode});
        EXPECT_EQ(keys.size(), expected.size());
        for (size_t i = 0; i < std::min(keys.size(), expected.size()); ++i)
            EXPECT_FALSE(KeyLess{mode}(keys[i], expected[i]) || KeyLess{mode}(expected[i], keys[i]))
                << i;
    }
}

TEST(SortedListMergeTest, AppendedKeysFindTheirPlaceInBothModes) {
    SortedList<int> numeric;
    auto text = SortedList<int>();
    text.SetSortMode(1);
    for (const char* k : {"50", "20", "80", "10", "60"}) {
        numeric.Add(k, 0);
        text.Add(k, 0);
    }
    // Each lookup sorts; each addition after it lands below, between,
    // equal to or above what is there.
    for (const char* k : {"5", "9", "100", "30", "1e3", "55"}) {
        EXPECT_FALSE(numeric.Exists(k)) << k;
        numeric.Add(k, 1);
        EXPECT_TRUE(numeric.Exists(k)) << k;
    }
    EXPECT_TRUE(numeric.Exists("60.0"));
    EXPECT_EQ(numeric.keys(),
              (Strings{"5", "9", "10", "20", "30", "50", "55", "60", "80", "100", "1e3"}));
    for (const char* k : {"5", "9", "100", "30"}) {
        text.Exists("x");
        text.Add(k, 1);
    }
    EXPECT_EQ(text.keys(), (Strings{"10", "100", "20", "30", "5", "50", "60", "80", "9"}));
}

TEST(SortedListMergeTest, DeletedRecordsKeepTheirPlaceForTheMerge) {
    auto list = SortedList<int>();
    list.SetSortMode(1);
    for (const char* k : {"b", "d", "f", "h", "j"})
        list.Add(k, 0);
    list.Remove("d");  // sorts, then marks "d" deleted
    list.Remove("h");
    // A new "D" merges beside the deleted "d"; the lookup may land on either
    // and must find the live one.
    list.Add("D", 4);
    list.Add("e", 5);
    EXPECT_TRUE(list.Exists("d"));
    EXPECT_EQ(list.item("d"), 4);
    EXPECT_FALSE(list.Exists("h"));  // lands on the deleted "h": compacts
    EXPECT_EQ(list.UsedSlots(), 5);
    EXPECT_EQ(list.keys(), (Strings{"b", "D", "e", "f", "j"}));

    // After the compaction the sorted part is the compacted list; records
    // added now merge into it.
    list.Add("a", 1);
    list.Add("g", 7);
    EXPECT_TRUE(list.Exists("A"));
    EXPECT_TRUE(list.Exists("G"));
    EXPECT_EQ(list.keys(), (Strings{"a", "b", "D", "e", "f", "g", "j"}));
    EXPECT_EQ(list.Items(), (std::vector<int>{1, 0, 4, 5, 0, 7, 0}));
}

}  // namespace
}  // namespace qb::lists
