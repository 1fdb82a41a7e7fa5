// What a check run has to tell: new names since each check began, URLs that
// fail after being fine, one notice per run; and the glance of the tray.
#include "ui/CheckRunNews.h"

#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/TrayState.h"

#include <gtest/gtest.h>

// Failures show texts, not UTF-16 units.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace ornbrook;
using test::Watched;

namespace {

// A watch list loaded from maindata.dat in a fresh program directory; checks
// are played by merging listings and setting messages by hand.
class WatchListFixture : public ::testing::Test {
protected:
    MainInterface& Load(const std::vector<UrlRecord>& urls) {
        test::WriteWatchList(urls);
        watch = std::make_unique<MainInterface>();
        return *watch;
    }
    UrlFileList& List(std::int32_t index) { return *watch->GetURL(index); }
    // A check of index that ends with this listing of names, or of files with
    // sizes, or with this message.
    std::optional<RunNotice> Listed(CheckRunNews& news, std::int32_t index,
                                    const std::vector<std::string>& names, bool runEnded,
                                    bool cut = false) {
        Listing listing;
        listing.Cut = cut;
        for (const std::string& name : names)
            listing.Entries.push_back({name});
        List(index).MergeFreshListing(std::move(listing));
        return news.CheckEnded(List(index), runEnded);
    }
    std::optional<RunNotice> Sized(CheckRunNews& news, std::int32_t index,
                                   const std::vector<std::pair<std::string, int>>& files,
                                   bool runEnded) {
        Listing listing;
        listing.Source = ListingSource::Machine;
        for (const auto& [name, size] : files) {
            ListedEntry entry{name};
            entry.Type = EntryType::File;
            entry.Size = size;
            listing.Entries.push_back(entry);
        }
        List(index).MergeFreshListing(std::move(listing));
        return news.CheckEnded(List(index), runEnded);
    }
    std::optional<RunNotice> Failed(CheckRunNews& news, std::int32_t index, bool runEnded,
                                    const std::string& message = "could not connect") {
        UrlRecord record;
        DecodeRecordInto(List(index).GetDataToSave(), record);
        List(index).SetBySavedData(EncodeRecord(record.URL, message, record.Entries), true);
        return news.CheckEnded(List(index), runEnded);
    }

    test::TempProgramDir dir;
    std::unique_ptr<MainInterface> watch;
};

using CheckRunNewsTest = WatchListFixture;

TEST_F(CheckRunNewsTest, OneNoticePerRunWithWhatIsNewSinceEachCheckBegan) {
    Load({Watched("ftp://anna:s3cret@a/in/", "", {{"old", 0}, {"seen", 1}}),
          Watched("ftp://b/", "", {{"x", 0}}), Watched("ftp://c/", "", {{"y", 0}})});
    CheckRunNews news(*watch);

    // Names new before the check ("seen") are no news; a name listed twice counts twice.
    EXPECT_FALSE(Listed(news, 3, {"y", "z"}, false));
    EXPECT_FALSE(Listed(news, 1, {"old", "seen", "n1", "n2", "n2"}, false));
    EXPECT_FALSE(Listed(news, 2, {"x"}, false));
    // Nothing is told until the run ends; then in watch-list order, password masked.
    const auto notice = news.CheckEnded(List(2), true);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->Summary, "4 new files");
    EXPECT_EQ(notice->Lines, QStringList({"3 new in ftp://anna:***@a/in/", "1 new in ftp://c/"}));
    EXPECT_EQ(notice->URL, "ftp://anna:s3cret@a/in/");

    // The next run lists the same: the names are still new, but no news.
    EXPECT_FALSE(Listed(news, 1, {"old", "seen", "n1", "n2", "n2"}, false));
    EXPECT_FALSE(Listed(news, 3, {"y", "z"}, true));

    // Acknowledged in between: a name that went and came back is news again.
    List(1).MergeFreshListing({"old"});
    List(1).RefreshList();
    const auto again = Listed(news, 1, {"old", "n1"}, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Summary, "1 new file");
}

TEST_F(CheckRunNewsTest, AFailureIsToldOnceUntilTheURLRecovers) {
    Load({Watched("ftp://a/", "", {{"f", 0}}), Watched("ftp://down/", "could not connect")});
    CheckRunNews news(*watch);

    // Failing at start is not news; failing again is not either. A long message
    // is cut to what a notice has room for.
    EXPECT_FALSE(Failed(news, 2, true));
    const auto first = Failed(news, 1, true, "421 " + std::string(300, 'm'));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Summary, "1 URL failed");
    EXPECT_EQ(first->Lines,
              QStringList({"ftp://a/ failed: 421 " + QString(75, 'm') + QChar(0x2026)}));
    EXPECT_EQ(first->URL, "ftp://a/");
    EXPECT_FALSE(Failed(news, 1, true));
    // Fine again, then failing: told again, together with new names of the run.
    EXPECT_FALSE(Listed(news, 1, {"f"}, true));
    EXPECT_FALSE(Listed(news, 2, {"g"}, false)); // recovers with a first listing
    // A reply is one line of the notice whatever it holds.
    const auto both = Failed(news, 1, true, "could not connect: 421 bye\r\n\x1b[2J");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->Summary, "1 new file, 1 URL failed");
    EXPECT_EQ(both->Lines, QStringList({"ftp://a/ failed: could not connect: 421 bye\\r\\n\\x1b[2J",
                                        "1 new in ftp://down/"}));
}

TEST_F(CheckRunNewsTest, AURLAddedMeanwhileStartsWithoutNews) {
    Load({Watched("ftp://a/", "", {{"f", 0}})});
    CheckRunNews news(*watch);
    // Added by the user: its first listing is all new, and no news.
    const std::int32_t added = watch->RestoreURL(2, EncodeRecord("ftp://new/", "", {FileEntry{}}));
    EXPECT_FALSE(Listed(news, added, {"1", "2", "3"}, true));
    const auto later = Listed(news, added, {"1", "2", "3", "4"}, true);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->Lines, QStringList({"1 new in ftp://new/"}));
    // Removed and added again: a fresh start once more.
    watch->RemoveURL("ftp://new/");
    EXPECT_FALSE(Listed(news, 1, {"f"}, true));
    const std::int32_t back = watch->RestoreURL(2, EncodeRecord("ftp://new/", "", {FileEntry{}}));
    EXPECT_FALSE(Listed(news, back, {"1", "2"}, true));
}

TEST_F(CheckRunNewsTest, ANoticeKeepsToAFewLines) {
    std::vector<UrlRecord> urls;
    for (int i = 1; i <= 6; ++i)
        urls.push_back(Watched("ftp://h" + std::to_string(i) + "/"));
    urls.push_back(Watched("ftp://long/", "", {{"a", 0}}));
    Load(urls);
    CheckRunNews news(*watch);
    for (std::int32_t i = 6; i >= 1; --i)
        EXPECT_FALSE(Listed(news, i, {"n"}, false));
    // A cut listing adds its names and fails: one line says both, its message shortened.
    const auto notice = Listed(news, 7, {"a", "b"}, true, true);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->Summary, "7 new files, 1 URL failed");
    EXPECT_EQ(notice->Lines, QStringList({"1 new in ftp://h1/", "1 new in ftp://h2/",
                                          "1 new in ftp://h3/", "and 4 more URLs"}));
    EXPECT_EQ(notice->URL, "ftp://h1/");
}

TEST_F(CheckRunNewsTest, ChangedFilesAreNewsArrivingOnesAndStartingPointsAreNot) {
    Load({Watched("ftp://a/"), Watched("ftp://b/")});
    watch->SetSettleSeconds(0);
    CheckRunNews news(*watch);
    // The first check of an added or edited URL: all new, none of it news.
    List(1).SetStartingPoint();
    EXPECT_FALSE(Sized(news, 1, {{"f", 1}, {"g", 1}}, true));

    // A file that grew and one that came: both told, the old wording kept for new alone.
    EXPECT_FALSE(Sized(news, 2, {{"x", 1}}, false));
    const auto both = Sized(news, 1, {{"f", 2}, {"g", 1}, {"h", 5}}, true);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->Summary, "2 new files, 1 changed file");
    EXPECT_EQ(both->Lines, QStringList({"1 new, 1 changed in ftp://a/", "1 new in ftp://b/"}));
    const auto changed = Sized(news, 2, {{"x", 7}}, true);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->Summary, "1 changed file");
    EXPECT_EQ(changed->Lines, QStringList({"1 changed in ftp://b/"}));

    // Waiting for uploads: files that arrive or change again are not told yet,
    // and count nowhere at a glance.
    watch->SetSettleSeconds(600);
    List(2).RefreshList();
    EXPECT_FALSE(Sized(news, 2, {{"x", 8}, {"y", 1}}, false));
    EXPECT_FALSE(Sized(news, 1, {{"f", 2}, {"g", 3}, {"h", 5}, {"i", 1}}, true));
    EXPECT_EQ(List(2).CountMark(FileMark::Arriving), 2);
    const TrayState state = TrayState::Of(*watch);
    EXPECT_EQ(state.ToolTip(), "Ornbrook\n1 URL with changes: 1 new, 1 changed");
    EXPECT_EQ(state.WindowTitle(), "Ornbrook (1)");
}

using TrayStateTest = WatchListFixture;

TEST_F(TrayStateTest, KindToolTipAndTitleFollowTheWatchList) {
    struct Row {
        std::vector<UrlRecord> urls;
        TrayState::Kind kind;
        QString toolTip;
        QString title;
    };
    const Row rows[] = {
        {{}, TrayState::Kind::AllFine, "Ornbrook\nno URLs watched", "Ornbrook"},
        {{Watched("ftp://a/", "", {{"f", 0}})},
         TrayState::Kind::AllFine,
         "Ornbrook\n1 URL, no changes",
         "Ornbrook"},
        {{Watched("ftp://a/", "", {{"f", 1}, {"g", 1}}), Watched("ftp://b/", "", {{"f", 2}}),
          Watched("ftp://c/")},
         TrayState::Kind::Changes,
         "Ornbrook\n2 URLs with changes: 2 new, 1 gone",
         "Ornbrook (2)"},
        {{Watched("ftp://a/", "could not connect"), Watched("ftp://b/", "no such dir")},
         TrayState::Kind::Failures,
         "Ornbrook\n2 URLs failed",
         "Ornbrook"},
        {{Watched("ftp://a/", "could not connect", {{"f", 1}})},
         TrayState::Kind::ChangesAndFailures,
         "Ornbrook\n1 URL with changes: 1 new\n1 URL failed",
         "Ornbrook (1)"},
    };
    for (const Row& row : rows) {
        const TrayState state = TrayState::Of(Load(row.urls));
        EXPECT_EQ(state.IconKind(), row.kind) << row.toolTip.toStdString();
        EXPECT_EQ(state.ToolTip(), row.toolTip);
        EXPECT_EQ(state.WindowTitle(), row.title);
    }
}

} // namespace
