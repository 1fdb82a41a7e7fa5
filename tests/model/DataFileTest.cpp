#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"

#include "app/FileIO_Code.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

std::string Bytes(std::initializer_list<int> codes) {
    std::string s;
    for (int c : codes)
        s += static_cast<char>(c);
    return s;
}

std::vector<FileEntry> Entries(std::initializer_list<FileEntry> list) {
    std::vector<FileEntry> entries{FileEntry{}};
    entries.insert(entries.end(), list);
    return entries;
}

std::string DataDir() {
    return ORNBROOK_TEST_DATA;
}

} // namespace

TEST(DataFileFormat, RecordBytes) {
    // A 5-character URL, no error, one entry a.txt in state 1: 20 bytes.
    EXPECT_EQ(EncodeRecord("ftp:/", "", Entries({{"a.txt", 1}})),
              Bytes({5, 0, 0}) + "ftp:/" + Bytes({0, 0, 0, 5, 0, 0}) + "a.txt" + Bytes({1}));
    // A 300-character URL is preceded by 44, 1, 0.
    EXPECT_EQ(EncodeRecord(std::string(300, 'u'), "", Entries({})).substr(0, 3), Bytes({44, 1, 0}));
    // One URL of 21 characters with no error and no entries: a 30-byte file.
    std::string file;
    AppendFrame(file, "ftp://srv/pub/incomin", "", Entries({}));
    EXPECT_EQ(file, Bytes({27, 0, 0, 21, 0, 0}) + "ftp://srv/pub/incomin" + Bytes({0, 0, 0}));
    EXPECT_EQ(file.size(), 30u);
}

TEST(DataFileFormat, DecodesWhatItEncodesAndWhatIsCutShort) {
    const auto full = EncodeRecord("ftp://h/", "could not connect",
                                   Entries({{"a", 0}, {"b b", 1}, {"\xe4\xff", 2}, {"", 0}}));
    const struct {
        std::string data;
        std::string url;
        std::string error;
        std::vector<FileEntry> entries;
    } rows[] = {
        {full, "ftp://h/", "could not connect",
         Entries({{"a", 0}, {"b b", 1}, {"\xe4\xff", 2}, {"", 0}})},
        // Ends right after the error text: no entries.
        {Bytes({1, 0, 0}) + "u" + Bytes({1, 0, 0}) + "e", "u", "e", Entries({})},
        // A missing state byte reads as 0.
        {Bytes({1, 0, 0, 'u', 0, 0, 0, 2, 0, 0}) + "ab", "u", "", Entries({{"ab", 0}})},
        // A name whose length runs past the end takes what is there.
        {Bytes({1, 0, 0, 'u', 0, 0, 0, 200, 0, 0}) + "abc", "u", "", Entries({{"abc", 0}})},
        // Lengths that lie about everything.
        {Bytes({255, 255, 255}) + "short", "short", "", Entries({})},
        {Bytes({1}), "", "", Entries({})},
        {"", "", "", Entries({})},
        // A stray byte after the last entry is one more (empty) entry.
        {Bytes({0, 0, 0, 0, 0, 0, 7}), "", "", Entries({{"", 0}})},
        // States are taken as they are.
        {Bytes({0, 0, 0, 0, 0, 0, 1, 0, 0, 'x', 9}), "", "", Entries({{"x", 9}})},
    };
    for (const auto& row : rows) {
        UrlRecord record;
        DecodeRecordInto(row.data, record);
        EXPECT_EQ(record.URL, row.url);
        EXPECT_EQ(record.ErrorMsg, row.error);
        EXPECT_EQ(record.Entries, row.entries);
    }
}

TEST(DataFileFormat, RecordsNeverOutgrowTheirLength) {
    // Entries beyond what a 3-byte frame length can describe are left out whole.
    std::vector<FileEntry> entries{FileEntry{}};
    const std::string name(1000, 'n');
    for (int i = 0; i < 17000; ++i)
        entries.push_back(FileEntry{name, 1});
    std::string file;
    const std::size_t omitted = AppendFrame(file, "ftp://h/", "", entries);
    EXPECT_GT(omitted, 0u);
    const auto frames = SplitFrames(file);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_LE(frames[0].size(), MaxFieldLength);
    EXPECT_EQ(frames[0].size() + 3, file.size());
    UrlRecord record;
    DecodeRecordInto(frames[0], record);
    EXPECT_EQ(record.URL, "ftp://h/");
    EXPECT_EQ(record.Entries.size() - 1 + omitted, 17000u);
    EXPECT_EQ(record.Entries.back(), (FileEntry{name, 1}));

    // A URL too long for its field is cut so that the frame still reads back.
    const std::string hugeUrl(MaxFieldLength + 10, 'u');
    std::string second;
    AppendFrame(second, hugeUrl, "could not connect", Entries({{"a", 1}}));
    const auto frames2 = SplitFrames(second);
    ASSERT_EQ(frames2.size(), 1u);
    EXPECT_EQ(frames2[0].size(), MaxFieldLength);
}

TEST(DataFileFormat, SplitsFrames) {
    std::string file;
    AppendFrame(file, "same", "", Entries({}));
    AppendFrame(file, "same", "", Entries({}));
    EXPECT_EQ(SplitFrames(file).size(), 2u);
    // A frame cut short takes the bytes that remain; a lone length byte is an empty frame.
    EXPECT_EQ(SplitFrames(Bytes({10, 0, 0, 'a', 'b'})).front(), "ab");
    EXPECT_EQ(SplitFrames(Bytes({5})).size(), 1u);
    EXPECT_TRUE(SplitFrames("").empty());
}

class WatchListFile : public ::testing::Test {
protected:
    TempProgramDir dir_;
};

TEST_F(WatchListFile, MissingFileIsCreatedEmpty) {
    MainInterface list;
    EXPECT_EQ(list.GetURLsCount(), 0);
    EXPECT_TRUE(FileExists(dir_.File("maindata.dat")));
    EXPECT_EQ(ReadBytes(dir_.File("maindata.dat")), "");
}

TEST_F(WatchListFile, SavedDataLoadsBackExactly) {
    std::string file;
    AppendFrame(file, "ftp://a/", "", Entries({{"x", 0}, {"y", 1}, {"z", 2}}));
    AppendFrame(file, "ftp://b/", "could not change dir", Entries({}));
    AppendFrame(file, "ftp://a/", "", Entries({{"dup", 1}}));
    WriteBytes(dir_.File("maindata.dat"), file);
    {
        MainInterface list;
        ASSERT_EQ(list.GetURLsCount(), 3); // two frames of one URL load as two entries
        EXPECT_EQ(list.GetURL(2)->GetErrorMsg(), "could not change dir");
        EXPECT_TRUE(list.GetURL(2)->IsError());
        EXPECT_EQ(list.GetURL(1)->GetFileState(3), FileStateGone);
        EXPECT_EQ(list.GetURLIndex("ftp://a/"), 1);
        list.SaveData();
    }
    EXPECT_EQ(ReadBytes(dir_.File("maindata.dat")), file);
}

TEST_F(WatchListFile, RemoveShiftsAndRefreshAcknowledges) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"keep", 0}, {"gone", 2}, {"new", 1}, {"last", 0}}));
    AppendFrame(file, "u2", "", Entries({}));
    AppendFrame(file, "u3", "", Entries({{"n", 1}}));
    WriteBytes(dir_.File("maindata.dat"), file);
    MainInterface list;
    int changes = 0;
    list.Change.Connect([&] { ++changes; });

    list.RemoveURL("u2");
    EXPECT_EQ(list.GetURLsCount(), 2);
    EXPECT_EQ(list.GetURL(2)->URL(), "u3");
    list.RemoveURL("not there"); // changes nothing, still rewrites
    EXPECT_EQ(changes, 0);

    list.Refresh();
    EXPECT_EQ(changes, 1);
    const auto u1 = list.GetURL(1);
    // The gone entry's slot is taken by the last entry.
    ASSERT_EQ(u1->GetFilesCount(), 3);
    EXPECT_EQ(u1->GetFileName(1), "keep");
    EXPECT_EQ(u1->GetFileName(2), "last");
    EXPECT_EQ(u1->GetFileName(3), "new");
    EXPECT_FALSE(u1->IsChanged());
    EXPECT_FALSE(list.GetURL(2)->IsChanged());

    MainInterface reloaded;
    EXPECT_EQ(reloaded.GetURLsCount(), 2);
    EXPECT_EQ(reloaded.GetURL(1)->GetFileName(2), "last");
    EXPECT_EQ(reloaded.GetURL(1)->GetFileState(3), FileStateOld);
}

TEST_F(WatchListFile, IndexesOutsideTheListAreErrors) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"a", 1}}));
    WriteBytes(dir_.File("maindata.dat"), file);
    MainInterface list;
    EXPECT_EQ(list.GetURL(0), nullptr);
    EXPECT_THROW(list.GetURL(2), std::out_of_range);
    EXPECT_THROW(list.GetURL(-1), std::out_of_range);
    const auto u1 = list.GetURL(1);
    EXPECT_EQ(u1->GetFileName(0), "");
    EXPECT_EQ(u1->GetFileState(0), 0);
    EXPECT_THROW(u1->GetFileName(2), std::out_of_range);
    EXPECT_THROW(u1->GetFileState(-1), std::out_of_range);
}

TEST_F(WatchListFile, CancelAndClearDoNotSave) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"a", 1}}));
    WriteBytes(dir_.File("maindata.dat"), file);
    MainInterface list;
    list.Cancel();
    EXPECT_EQ(list.GetURLsCount(), 0);
    EXPECT_EQ(ReadBytes(dir_.File("maindata.dat")), file);
}

TEST_F(WatchListFile, FailedSaveKeepsThePreviousFile) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"a", 1}}));
    WriteBytes(dir_.File("maindata.dat"), file);
    MainInterface list;
    list.GetURL(1)->RefreshList(); // saves fine
    const std::string saved = ReadBytes(dir_.File("maindata.dat"));
    EXPECT_NE(saved, file);

    // The temporary file cannot be made: the save fails loudly, the old file stays.
    const std::string temp = dir_.File("maindata.dat." + std::to_string(::getpid()) + ".tmp");
    std::filesystem::create_directory(temp);
    list.GetURL(1)->Clear(false);
    EXPECT_THROW(list.SaveData(), FileError);
    EXPECT_EQ(ReadBytes(dir_.File("maindata.dat")), saved);
    std::filesystem::remove(temp);

    // A successful save leaves no temporary file behind.
    list.SaveData();
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_EQ(entry.path().filename(), "maindata.dat");
}

TEST_F(WatchListFile, TooLargeListingFailsTheCheckAndKeepsEntries) {
    UrlFileList list;
    list.SetURL("ftp://h/");
    list.MergeFreshListing({"a", "b"});
    std::vector<std::string> huge(17000, std::string(1000, 'n'));
    list.MergeFreshListing(huge);
    EXPECT_EQ(list.GetErrorMsg(), UrlFileList::TooLargeMessage);
    ASSERT_EQ(list.GetFilesCount(), 2);
    EXPECT_EQ(list.GetFileState(1), FileStateNew);
    // A listing that still fits merges as usual.
    list.MergeFreshListing({"a"});
    EXPECT_EQ(list.GetFileState(2), FileStateGone);
}

TEST_F(WatchListFile, DamagedSamplesLoadWhatTheyCan) {
    const struct {
        const char* sample;
        int urls;
        const char* firstUrl;
        int firstFiles;
    } rows[] = {
        {"truncated-frame.dat", 2, "ftp://a/", 2},
        {"frame-past-end.dat", 1, "ftp://a/", 1},
        {"missing-state.dat", 1, "ftp://a/", 2},
        {"lying-lengths.dat", 2, "ftp://a/", 1},
        {"single-byte.dat", 1, "", 0},
    };
    for (const auto& row : rows) {
        const std::string bytes = ReadBytes(DataDir() + row.sample);
        ASSERT_FALSE(bytes.empty()) << row.sample;
        WriteBytes(dir_.File("maindata.dat"), bytes);
        MainInterface list;
        ASSERT_EQ(list.GetURLsCount(), row.urls) << row.sample;
        EXPECT_EQ(list.GetURL(1)->URL(), row.firstUrl) << row.sample;
        EXPECT_EQ(list.GetURL(1)->GetFilesCount(), row.firstFiles) << row.sample;
    }
}

TEST_F(WatchListFile, RandomCorruptionNeverBreaksLoading) {
    std::string good;
    AppendFrame(good, "ftp://user:pw@host:2121/dir/", "could not connect",
                Entries({{"alpha", 0}, {"beta", 1}, {"gamma", 2}, {"delta", 1}}));
    AppendFrame(good, "ftp://other/", "", Entries({{"x", 0}}));
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        std::string bad = good;
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < flips; ++f)
            bad[random() % bad.size()] = static_cast<char>(random() % 256);
        if (random() % 3 == 0)
            bad.resize(random() % bad.size());
        WriteBytes(dir_.File("maindata.dat"), bad);
        MainInterface list;
        // Every frame takes at least its 3 length bytes.
        ASSERT_LE(list.GetURLsCount(), static_cast<std::int32_t>(bad.size() / 3 + 1));
        std::int64_t entries = 0;
        for (std::int32_t i = 1; i <= list.GetURLsCount(); ++i)
            entries += list.GetURL(i)->GetFilesCount();
        ASSERT_LE(entries, static_cast<std::int64_t>(bad.size()));
    }
}
