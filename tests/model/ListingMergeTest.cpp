#include "model/ListingMerge.h"
#include "model/UrlFileList.h"
#include "tests/support/WrittenMerge.h"

#include <gtest/gtest.h>

#include <random>

using namespace ornbrook;
using ornbrook::test::WrittenMerge;

namespace {

std::vector<FileEntry> Entries(std::initializer_list<FileEntry> list) {
    std::vector<FileEntry> entries{FileEntry{}};
    entries.insert(entries.end(), list);
    return entries;
}

} // namespace

// Checked against both the merge and the written procedure's transcription, so
// that the randomized comparison below rests on a transcription known to be right.
TEST(ListingMerge, LifeOfAFileList) {
    const struct {
        std::vector<FileEntry> before;
        std::vector<std::string> listed;
        std::vector<FileEntry> after;
    } rows[] = {
        // First check: everything is new, in listing order.
        {Entries({}), {"a", "b", "c"}, Entries({{"a", 1}, {"b", 1}, {"c", 1}})},
        // One gone, one new, the rest keep state and position.
        {Entries({{"a", 0}, {"b", 0}, {"c", 0}}),
         {"c", "d", "a"},
         Entries({{"a", 0}, {"b", 2}, {"c", 0}, {"d", 1}})},
        // A gone entry that is listed again was put back: new; a new one stays new.
        {Entries({{"a", 2}, {"b", 1}}), {"a", "b"}, Entries({{"a", 1}, {"b", 1}})},
        {Entries({{"a", 2}, {"b", 0}}), {"b", "a"}, Entries({{"a", 1}, {"b", 0}})},
        // An empty listing marks every known entry gone.
        {Entries({{"a", 0}, {"b", 1}}), {}, Entries({{"a", 2}, {"b", 2}})},
        // A name listed twice while known once: matched once, appended once as new.
        {Entries({{"a", 0}}), {"a", "a"}, Entries({{"a", 0}, {"a", 1}})},
        // Known twice, listed once: the first of the work list is matched.
        {Entries({{"x", 0}, {"x", 0}}), {"x"}, Entries({{"x", 0}, {"x", 2}})},
        // The swap moves the last pair forward: the second x is found first then.
        {Entries({{"a", 0}, {"x", 0}, {"b", 0}, {"x", 0}}),
         {"a", "x"},
         Entries({{"a", 0}, {"x", 2}, {"b", 2}, {"x", 0}})},
        // Names differ by case and by blanks.
        {Entries({{"A", 0}, {" a", 0}}), {"a", " a"}, Entries({{"A", 2}, {" a", 0}, {"a", 1}})},
    };
    for (const auto& row : rows) {
        auto fast = row.before;
        MergeListing(fast, row.listed);
        EXPECT_EQ(fast, row.after);
        auto written = row.before;
        WrittenMerge(written, row.listed);
        EXPECT_EQ(written, row.after);
    }
}

// Deleted and put back between two acknowledgements: reported once as gone,
// once as new, and never again while it stays.
TEST(ListingMerge, AFilePutBackIsNewOnceAndNeverAgain) {
    UrlFileList list;
    const auto states = [&] {
        std::vector<std::int32_t> result;
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
            result.push_back(list.GetFileState(i));
        return result;
    };
    list.MergeFreshListing({"a", "b"});
    list.RefreshList();
    list.MergeFreshListing({"a"});
    EXPECT_EQ(states(), (std::vector<std::int32_t>{FileStateOld, FileStateGone}));
    list.MergeFreshListing({"b", "a"});
    EXPECT_EQ(states(), (std::vector<std::int32_t>{FileStateOld, FileStateNew}));
    list.RefreshList();
    for (int check = 0; check < 2; ++check) {
        EXPECT_FALSE(list.MergeFreshListing({"a", "b"}));
        EXPECT_FALSE(list.IsChanged());
    }
    // Put back and listed in the very order it was known in.
    list.MergeFreshListing({"a"});
    EXPECT_TRUE(list.MergeFreshListing({"a", "b"}));
    EXPECT_EQ(states(), (std::vector<std::int32_t>{FileStateOld, FileStateNew}));
}

TEST(ListingMerge, EqualsTheWrittenProcedureOnRandomListings) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 3010; ++round) {
        // Mostly few distinct names, so that duplicates on both sides are common;
        // the last rounds are large, where the fast merge's bookkeeping matters.
        const bool large = round >= 3000;
        const int alphabet = large ? 2500 : 1 + static_cast<int>(random() % 8);
        const auto name = [&] { return "f" + std::to_string(random() % alphabet); };
        std::vector<FileEntry> entries{FileEntry{}};
        const int known = static_cast<int>(random() % (large ? 3000 : 12));
        for (int k = 0; k < known; ++k)
            entries.push_back(FileEntry{name(), static_cast<std::int32_t>(random() % 3)});
        std::vector<std::string> listed;
        const int count = static_cast<int>(random() % (large ? 3000 : 14));
        for (int i = 0; i < count; ++i)
            listed.push_back(name());

        auto fast = entries;
        auto written = entries;
        MergeListing(fast, listed);
        WrittenMerge(written, listed);
        ASSERT_EQ(fast, written) << "round " << round;
    }
}
