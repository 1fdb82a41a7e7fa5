#include "model/ListingMerge.h"
#include "model/DataFileFormat.h"
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

namespace {

// A listed file: its name, its size, and its time as MLSD gives it (UTC, to
// the second), or to the day where day is set.
ListedEntry Listed(const std::string& name, std::uint64_t size, int minute, bool day = false,
                   EntryType type = EntryType::File) {
    ListedEntry entry;
    entry.Name = name;
    entry.Type = type;
    entry.Size = size;
    entry.Modified.Precision = day ? ListedTime::Resolution::Day : ListedTime::Resolution::Second;
    entry.Modified.Year = 2026;
    entry.Modified.Month = 12;
    entry.Modified.Day = day ? 7 + minute / 1440 : 7;
    entry.Modified.Hour = day ? 0 : minute / 60;
    entry.Modified.Minute = day ? 0 : minute % 60;
    entry.Modified.Utc = true;
    return entry;
}

// What the user is shown of each entry, in entry order: name and mark.
std::vector<std::pair<std::string, FileMark>> Shown(const std::vector<FileEntry>& entries) {
    std::vector<std::pair<std::string, FileMark>> shown;
    for (std::size_t k = 1; k < entries.size(); ++k)
        shown.emplace_back(entries[k].Name, MarkOf(entries[k]));
    return shown;
}

struct Step {
    std::int64_t at; // seconds
    std::vector<ListedEntry> listed;
    std::vector<std::pair<std::string, FileMark>> shown;
    std::int32_t newFiles = 0, changedFiles = 0;
    bool refreshAfter = false;
};

void MergeSteps(const char* what, std::int64_t settle, const std::vector<Step>& steps) {
    SCOPED_TRACE(what);
    UrlFileList list;
    std::vector<FileEntry> entries{FileEntry{}};
    bool first = true;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at);
        Listing listing{step.listed, false, ListingSource::Machine};
        const MergeNews news =
            MergeListing(entries, std::move(listing), MergeRules{step.at, settle, first});
        first = false;
        EXPECT_EQ(Shown(entries), step.shown);
        EXPECT_EQ(news.NewFiles, step.newFiles);
        EXPECT_EQ(news.ChangedFiles, step.changedFiles);
        if (step.refreshAfter) {
            list.SetByRecord(UrlRecord{"u", "", entries});
            list.RefreshList();
            entries = {FileEntry{}};
            for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
                entries.push_back(list.GetEntry(i));
        }
    }
}

using M = FileMark;

} // namespace

TEST(ListingMerge, FilesWithFactsAreChangedOrArriveUntilTheyHoldStill) {
    // Without waiting: a size or a time that moved is a change at once; a
    // time known to the day is compared by day; folders never change.
    MergeSteps("at once", 0,
               {{0,
                 {Listed("a", 1, 0), Listed("b", 1, 0), Listed("c", 1, 0, true),
                  Listed("d", 0, 0, false, EntryType::Folder)},
                 {{"a", M::New}, {"b", M::New}, {"c", M::New}, {"d", M::New}},
                 4,
                 0,
                 true},
                {10,
                 {Listed("a", 2, 0), Listed("b", 1, 5), Listed("c", 1, 30, true),
                  Listed("d", 9, 9, false, EntryType::Folder)},
                 {{"a", M::Changed}, {"b", M::Changed}, {"c", M::Old}, {"d", M::Old}},
                 0,
                 2,
                 true},
                {20,
                 {Listed("b", 1, 5), Listed("c", 1, 2000, true),
                  Listed("d", 9, 9, false, EntryType::Folder)},
                 {{"a", M::Gone}, {"b", M::Old}, {"c", M::Changed}, {"d", M::Old}},
                 0,
                 1}});
    // Waiting 15 s: a new file arrives, grows, holds still and is new; a known
    // file that changes arrives and becomes changed; one that vanishes while
    // arriving leaves no trace; Refresh leaves arriving files arriving.
    MergeSteps(
        "settling", 15,
        {{0, {Listed("k", 5, 0)}, {{"k", M::New}}, 1, 0, true},
         {10, {Listed("k", 5, 0), Listed("up", 100, 1)}, {{"k", M::Old}, {"up", M::Arriving}}},
         {20, {Listed("k", 5, 0), Listed("up", 200, 1)}, {{"k", M::Old}, {"up", M::Arriving}}},
         {30,
          {Listed("k", 6, 2), Listed("up", 200, 1), Listed("brief", 1, 1)},
          {{"k", M::Arriving}, {"up", M::Arriving}, {"brief", M::Arriving}},
          0,
          0,
          true},
         {35,
          {Listed("k", 6, 2), Listed("up", 200, 1)},
          {{"k", M::Arriving}, {"up", M::New}},
          1,
          0},
         {45,
          {Listed("k", 6, 2), Listed("up", 200, 1)},
          {{"k", M::Changed}, {"up", M::New}},
          0,
          1}});
    // A gone file listed again with the facts it had gets its mark back; with
    // other facts it is changed.
    MergeSteps(
        "put back", 0,
        {{0, {Listed("a", 1, 0), Listed("b", 1, 0)}, {{"a", M::New}, {"b", M::New}}, 2, 0, true},
         {10, {}, {{"a", M::Gone}, {"b", M::Gone}}},
         {20, {Listed("a", 1, 0), Listed("b", 7, 0)}, {{"a", M::Old}, {"b", M::Changed}}, 0, 1}});
}

TEST(ListingMerge, TheDataFileHoldsOnlyWhatHasSettled) {
    std::vector<FileEntry> entries{FileEntry{}};
    MergeListing(entries, Listing{{Listed("old", 1, 0)}, false, ListingSource::Machine},
                 MergeRules{0, 15, true});
    entries[1].State = FileStateOld;
    MergeListing(entries,
                 Listing{{Listed("old", 2, 0), Listed("new", 1, 0)}, false, ListingSource::Machine},
                 MergeRules{10, 15, false});
    // The known file keeps its last settled state; the arriving one is not there.
    EXPECT_EQ(EncodeRecord("u", "", entries), EncodeRecord("u", "", {FileEntry{}, {"old", 0}}));
}
