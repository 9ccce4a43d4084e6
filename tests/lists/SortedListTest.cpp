#include "scanner/lists/SortedList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace qb::lists {
namespace {

using Strings = std::vector<std::string>;

template <typename F>
int32_t ErrorNumberOf(F&& f) {
    try {
        f();
    } catch (const RunError& e) {
        return e.Number();
    }
    return 0;
}

SortedList<int> TextList() {
    SortedList<int> list;
    list.SetSortMode(1);
    return list;
}

TEST(SortedListTest, NewListIsNumericAndRefusesTextKeys) {
    SortedList<int> list;
    EXPECT_EQ(list.SortMode(), 0);
    try {
        list.Add("abc", 1);
        FAIL() << "text key accepted in numeric mode";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), -2147221503);
        EXPECT_EQ(e.Description(), "Key Invalid: Text keys are invalid when SortMode is Numeric");
    }
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(ErrorNumberOf([&] { list.Exists("abc"); }), err::kKeyInvalid);
    list.SetSortMode(1);
    list.Add("abc", 1);
    EXPECT_EQ(list.Count(), 1);
}

TEST(SortedListTest, TextModeIgnoresCaseAndKeepsKeysAsAdded) {
    auto list = TextList();
    list.Add("alpha", 0);
    list.Add("Beta", 7);
    EXPECT_TRUE(list.Exists("ALPHA"));
    EXPECT_TRUE(list.Exists("beta"));
    EXPECT_FALSE(list.Exists("alph"));
    EXPECT_EQ(list.keys(), (Strings{"alpha", "Beta"}));
    EXPECT_EQ(list.item("BETA"), 7);
}

TEST(SortedListTest, KeyOrderDependsOnMode) {
    SortedList<int> numeric;
    for (const char* k : {"10", "9", "100"})
        numeric.Add(k, 0);
    EXPECT_EQ(numeric.keys(), (Strings{"9", "10", "100"}));
    EXPECT_TRUE(numeric.Exists("10.0"));
    EXPECT_TRUE(numeric.Exists(" 9 "));

    auto text = TextList();
    for (const char* k : {"10", "9", "100"})
        text.Add(k, 0);
    EXPECT_EQ(text.keys(), (Strings{"10", "100", "9"}));
}

TEST(SortedListTest, DuplicatesAreSeparateRecords) {
    auto list = TextList();
    list.Add("x", 1);
    list.Add("X", 2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.keys().size(), 2u);
    list.Remove("x");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.Exists("x"));
    list.Remove("x");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Exists("x"));
}

TEST(SortedListTest, OperationsOnAbsentKeysAndEmptyListsChangeNothing) {
    auto list = TextList();
    list.RemoveTop();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.Items().empty());
    EXPECT_TRUE(list.keys().empty());
    int top = 5;
    list.GetTop(top);
    EXPECT_EQ(top, 0);

    list.Add("b", 2);
    list.Add("a", 1);
    list.Remove("zz");
    list.SetItem("zz", 9);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(), (std::vector<int>{1, 2}));
    EXPECT_FALSE(list.item("zz").has_value());
}

TEST(SortedListTest, ItemOfAbsentKeyIsEmptyNotZero) {
    auto list = TextList();
    list.Add("zero", 0);
    ASSERT_TRUE(list.item("zero").has_value());
    EXPECT_EQ(*list.item("zero"), 0);
    EXPECT_FALSE(list.item("none").has_value());
}

TEST(SortedListTest, TopAndSetItem) {
    auto list = TextList();
    list.Add("m", 13);
    list.Add("c", 3);
    list.Add("x", 24);
    int top = 0;
    list.GetTop(top);
    EXPECT_EQ(top, 3);
    list.SetItem("C", 30);
    list.GetTop(top);
    EXPECT_EQ(top, 30);
    list.RemoveTop();
    EXPECT_EQ(list.keys(), (Strings{"m", "x"}));
    list.GetTop(top);
    EXPECT_EQ(top, 13);
}

TEST(SortedListTest, SortModeChangesOnlyWhileEmpty) {
    SortedList<int> list;
    list.Add("1", 0);
    try {
        list.SetSortMode(1);
        FAIL() << "mode changed on a filled list";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), -2147221501);
        EXPECT_EQ(e.Description(),
                  "SortMode Failure: You cannot change the SortMode unless the list is empty.");
    }
    EXPECT_EQ(list.SortMode(), 0);
    list.Remove("1");
    list.SetSortMode(1);
    EXPECT_EQ(list.SortMode(), 1);
    list.Add("k", 0);
    list.Clear();
    EXPECT_EQ(list.SortMode(), 1);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(SortedListTest, NumericModeLookupsWithTextKeysFailAsTypeMismatch) {
    SortedList<int> list;
    EXPECT_FALSE(list.item("abc").has_value());  // nothing to compare with yet
    list.Add("1", 5);
    EXPECT_EQ(ErrorNumberOf([&] { list.item("abc"); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorNumberOf([&] { list.Remove("abc"); }), err::kTypeMismatch);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.item("1.0"), 5);
}

TEST(SortedListTest, GrowsByATenthOfTheLiveCount) {
    auto list = TextList();
    list.Add("k0", 0);
    EXPECT_EQ(list.Capacity(), 10);
    EXPECT_EQ(list.ShrinkMark(), -10);
    // The key is built in place: GCC 12 at -O3 warns (-Wrestrict) about
    // "k" + std::to_string(i), wrongly (its bug 105651).
    for (int i = 1; i < 1000; ++i)
        list.Add(std::string("k").append(std::to_string(i)), i);
    // Each growth adds max(10, round-half-even(live / 10)) slots.
    int capacity = 10;
    for (int live = 10; live < 1000; live = capacity) {
        const int tenth = (live % 10 == 5 && (live / 10) % 2 == 0) ? live / 10 : (live + 5) / 10;
        capacity = live + std::max(10, tenth);
    }
    EXPECT_EQ(list.Capacity(), capacity);
    list.Add("k1000", 1000);
    EXPECT_EQ(list.Count(), 1001);
}

TEST(SortedListTest, CompactionKeepsResultsAndShrinks) {
    auto list = TextList();
    std::vector<std::string> expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string key = "key" + std::to_string(10000 + i);
        list.Add(key, i);
        if (i % 4 != 0)
            expected.push_back(key);
    }
    for (int i = 0; i < 2000; i += 4)
        list.Remove("KEY" + std::to_string(10000 + i));
    const int capacityBefore = list.Capacity();
    EXPECT_EQ(list.UsedSlots(), 2000);
    EXPECT_EQ(list.keys(), expected);

    // Landing on a deleted record compacts; the answers stay the same.
    EXPECT_FALSE(list.Exists("key10000"));
    EXPECT_EQ(list.UsedSlots(), 1500);
    EXPECT_EQ(list.Count(), 1500);
    EXPECT_EQ(list.keys(), expected);
    EXPECT_EQ(list.item("key10001"), 1);
    EXPECT_EQ(list.item("key11999"), 1999);

    // Remove most of the rest; a compaction below the shrink mark shrinks.
    for (int i = 1; i < 1990; ++i) {
        if (i % 4 != 0)
            list.Remove("key" + std::to_string(10000 + i));
    }
    EXPECT_FALSE(list.Exists("key10001"));
    EXPECT_LT(list.Capacity(), capacityBefore);
    EXPECT_EQ(list.Capacity(), list.Count() + 10);
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(list.keys().front(), "key11990");
}

TEST(SortedListTest, LargeRandomListsComeOutSorted) {
    std::mt19937 rng(7);
    auto text = TextList();
    SortedList<int> numeric;
    std::vector<std::string> textKeys;
    std::vector<double> numbers;
    for (int i = 0; i < 20000; ++i) {
        std::string key;
        for (int n = 1 + rng() % 6; n > 0; --n)
            key += static_cast<char>("aBcDeF"[rng() % 6]);
        text.Add(key, i);
        textKeys.push_back(key);
        const int number = static_cast<int>(rng() % 5000) - 2500;
        numeric.Add(std::to_string(number), number);
        numbers.push_back(number);
    }
    std::vector<std::string> keys = text.keys();
    ASSERT_EQ(keys.size(), textKeys.size());
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return text::CompareNoCase(a, b) < 0;
    }));
    std::sort(keys.begin(), keys.end());
    std::sort(textKeys.begin(), textKeys.end());
    EXPECT_EQ(keys, textKeys);  // same multiset

    std::vector<int> values = numeric.Items();
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(values.size(), numbers.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(values[i], numbers[i]);
    for (int probe = -2600; probe < 2600; probe += 37) {
        EXPECT_EQ(numeric.Exists(std::to_string(probe)),
                  std::binary_search(numbers.begin(), numbers.end(), probe));
    }
}

TEST(SortedListTest, LongRunsOfEqualKeysSortWithoutDeepRecursion) {
    // A list file of one line repeated many times, and one with a single
    // larger key behind the run.
    auto list = TextList();
    for (int i = 0; i < 200000; ++i)
        list.Add(i % 2 ? "Same" : "same", 0);
    list.Add("zzz", 1);
    EXPECT_TRUE(list.Exists("SAME"));
    std::vector<std::string> keys = list.keys();
    ASSERT_EQ(keys.size(), 200001u);
    EXPECT_EQ(keys.back(), "zzz");
}

TEST(SortedListTest, SharedValuesStaySharedCopiesStayCopies) {
    SortedList<std::shared_ptr<std::string>> refs;
    refs.SetSortMode(1);
    auto shared = std::make_shared<std::string>("before");
    refs.Add("k", shared);
    *shared = "after";
    EXPECT_EQ(**refs.item("k"), "after");
    refs.Remove("k");
    EXPECT_EQ(shared.use_count(), 1);  // dropped on removal

    SortedList<std::string> copies;
    copies.SetSortMode(1);
    std::string text = "before";
    copies.Add("k", text);
    text = "after";
    EXPECT_EQ(copies.item("k"), "before");
    std::string top = "x";
    copies.Clear();
    copies.GetTop(top);
    EXPECT_EQ(top, "");
}

TEST(NumericKeyTest, AcceptsDecimalNumbersWithBlanks) {
    EXPECT_EQ(ParseNumericKey("42"), 42.0);
    EXPECT_EQ(ParseNumericKey("  -1.5\t"), -1.5);
    EXPECT_EQ(ParseNumericKey("+.5"), 0.5);
    EXPECT_EQ(ParseNumericKey("3."), 3.0);
    EXPECT_EQ(ParseNumericKey("1e3"), 1000.0);
    EXPECT_EQ(ParseNumericKey("1E-2"), 0.01);
    EXPECT_EQ(ParseNumericKey("1e-400"), 0.0);
    EXPECT_EQ(ParseNumericKey("00012"), 12.0);
}

TEST(NumericKeyTest, RefusesEverythingElse) {
    for (const char* text : {"", "   ", "abc", "1,000", "1 2", "&H10", "0x10", "inf", "nan", "-",
                             ".", "1e", "1e+", "1..2", "$5", "1e400", "12a", "--1"}) {
        EXPECT_FALSE(ParseNumericKey(text).has_value()) << text;
    }
    EXPECT_FALSE(ParseNumericKey(std::string("1\0", 2)).has_value());
}

TEST(NumericKeyTest, HalfEvenRounding) {
    EXPECT_EQ(MidpointHalfEven(1, 2), 2);  // 1.5 -> 2
    EXPECT_EQ(MidpointHalfEven(2, 3), 2);  // 2.5 -> 2
    EXPECT_EQ(MidpointHalfEven(1, 4), 2);  // 2.5 -> 2
    EXPECT_EQ(MidpointHalfEven(3, 4), 4);  // 3.5 -> 4
    EXPECT_EQ(MidpointHalfEven(1, 3), 2);
    EXPECT_EQ(TenthHalfEven(1000), 100);
    EXPECT_EQ(TenthHalfEven(25), 2);
    EXPECT_EQ(TenthHalfEven(35), 4);
    EXPECT_EQ(TenthHalfEven(34), 3);
    EXPECT_EQ(TenthHalfEven(36), 4);
}

}  // namespace
}  // namespace qb::lists
