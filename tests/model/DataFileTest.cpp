#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"

#include "base/FileIO_Code.h"

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

UrlRecord Decoded(std::string_view frame) {
    UrlRecord record;
    DecodeRecordInto(frame, record);
    return record;
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

    // Frames follow each other; one cut short takes the bytes that remain.
    AppendFrame(file, "ftp://srv/pub/incomin", "", Entries({}));
    EXPECT_EQ(SplitFrames(file).size(), 2u);
    EXPECT_EQ(SplitFrames(Bytes({10, 0, 0, 'a', 'b'})).front(), "ab");
    EXPECT_EQ(SplitFrames(Bytes({5})).size(), 1u); // a lone length byte: an empty frame
    EXPECT_TRUE(SplitFrames("").empty());
}

TEST(DataFileFormat, DecodesWhatItEncodesAndWhatIsCutShort) {
    const auto entries = Entries({{"a", 0}, {"b b", 1}, {"\xe4\xff", 2}, {"", 0}});
    const struct {
        std::string data;
        std::string url;
        std::string error;
        std::vector<FileEntry> entries;
    } rows[] = {
        {EncodeRecord("ftp://h/", "could not connect", entries), "ftp://h/", "could not connect",
         entries},
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
        const UrlRecord record = Decoded(row.data);
        EXPECT_EQ(record.URL, row.url);
        EXPECT_EQ(record.ErrorMsg, row.error);
        EXPECT_EQ(record.Entries, row.entries);
    }
}

TEST(DataFileFormat, NothingOutgrowsItsThreeByteLength) {
    // Entries beyond what a frame length can describe are left out whole.
    const std::string name(1000, 'n');
    std::vector<FileEntry> entries(17001, FileEntry{name, 1});
    entries[0] = FileEntry{}; // slot 0 is unused
    std::string file;
    const std::size_t omitted = AppendFrame(file, "ftp://h/", "", entries);
    const auto frames = SplitFrames(file);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_LE(frames[0].size(), MaxFieldLength);
    EXPECT_EQ(frames[0].size() + 3, file.size());
    const UrlRecord record = Decoded(frames[0]);
    EXPECT_EQ(record.URL, "ftp://h/");
    EXPECT_EQ(record.Entries.size() - 1 + omitted, 17000u);
    EXPECT_EQ(record.Entries.back(), (FileEntry{name, 1}));

    // A URL too long for its field is cut so that the frame still reads back.
    std::string second;
    AppendFrame(second, std::string(MaxFieldLength + 10, 'u'), "could not connect",
                Entries({{"a", 1}}));
    ASSERT_EQ(SplitFrames(second).size(), 1u);
    EXPECT_EQ(SplitFrames(second)[0].size(), MaxFieldLength);

    // A listing too large to save fails the check and keeps the entries.
    UrlFileList list;
    list.SetURL("ftp://h/");
    list.MergeFreshListing({"a", "b"});
    list.MergeFreshListing(std::vector<std::string>(17000, name));
    EXPECT_EQ(list.GetErrorMsg(), UrlFileList::TooLargeMessage);
    ASSERT_EQ(list.GetFilesCount(), 2);
    list.MergeFreshListing({"a"}); // one that fits merges as usual
    EXPECT_EQ(list.GetFileState(2), FileStateGone);
}

class WatchListFile : public ::testing::Test {
protected:
    std::string File() const { return dir_.File("maindata.dat"); }
    TempProgramDir dir_;
};

TEST_F(WatchListFile, LoadSaveRemoveAndRefresh) {
    {
        MainInterface missing; // a missing file is created empty
        EXPECT_EQ(missing.GetURLsCount(), 0);
        EXPECT_EQ(ReadBytes(File()), "");
    }
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"keep", 0}, {"gone", 2}, {"new", 1}, {"last", 0}}));
    AppendFrame(file, "u2", "could not change dir", Entries({}));
    AppendFrame(file, "u1", "", Entries({{"dup", 1}}));
    WriteBytes(File(), file);
    MainInterface list;
    ASSERT_EQ(list.GetURLsCount(), 3); // two frames of one URL load as two entries
    EXPECT_EQ(list.GetURL(2)->GetErrorMsg(), "could not change dir");
    EXPECT_EQ(list.GetURLIndex("u1"), 1);
    list.SaveData();
    EXPECT_EQ(ReadBytes(File()), file);

    int changes = 0;
    Subscriptions subs;
    subs += list.Change.Connect([&] { ++changes; });
    list.RemoveURL("u2");
    list.RemoveURL("not there"); // changes nothing, still rewrites
    EXPECT_EQ(list.GetURLsCount(), 2);
    EXPECT_EQ(list.GetURL(2)->GetFileName(1), "dup");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(list.GetURL(0), nullptr);
    EXPECT_THROW(list.GetURL(3), std::out_of_range);

    list.Refresh();
    EXPECT_EQ(changes, 1);
    const auto u1 = list.GetURL(1);
    // The gone entry's slot is taken by the last entry.
    ASSERT_EQ(u1->GetFilesCount(), 3);
    EXPECT_EQ(u1->GetFileName(2), "last");
    EXPECT_EQ(u1->GetFileName(3), "new");
    EXPECT_FALSE(u1->IsChanged());
    EXPECT_EQ(u1->GetFileName(0), "");
    EXPECT_THROW(u1->GetFileName(4), std::out_of_range);

    const std::string saved = ReadBytes(File());
    MainInterface reloaded;
    EXPECT_EQ(reloaded.GetURLsCount(), 2);
    EXPECT_EQ(reloaded.GetURL(1)->GetFileName(2), "last");
    EXPECT_EQ(reloaded.GetURL(1)->GetFileState(3), FileStateOld);
    reloaded.Cancel(); // empties the list without saving
    EXPECT_EQ(reloaded.GetURLsCount(), 0);
    EXPECT_EQ(ReadBytes(File()), saved);
}

TEST_F(WatchListFile, FailedSaveKeepsThePreviousFile) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"a", 1}}));
    WriteBytes(File(), file);
    MainInterface list;
    list.GetURL(1)->RefreshList(); // saves fine
    const std::string saved = ReadBytes(File());
    EXPECT_NE(saved, file);

    // The temporary file cannot be made: the save fails loudly, the old file stays.
    const std::string temp = dir_.File("maindata.dat." + std::to_string(::getpid()) + ".tmp");
    std::filesystem::create_directory(temp);
    list.GetURL(1)->Clear(false);
    EXPECT_THROW(list.SaveData(), FileError);
    EXPECT_EQ(ReadBytes(File()), saved);
    std::filesystem::remove(temp);

    // A successful save leaves no temporary file behind.
    list.SaveData();
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_EQ(entry.path().filename(), "maindata.dat");
}

TEST_F(WatchListFile, DamagedSamplesLoadWhatTheyCan) {
    // sample, URLs read, first URL, its entries
    const std::tuple<const char*, int, const char*, int> rows[] = {
        {"truncated-frame.dat", 2, "ftp://a/", 2},
        {"frame-past-end.dat", 1, "ftp://a/", 1},
        {"missing-state.dat", 1, "ftp://a/", 2},
        {"lying-lengths.dat", 2, "ftp://a/", 1},
        {"single-byte.dat", 1, "", 0},
    };
    for (const auto& [sample, urls, firstUrl, firstFiles] : rows) {
        const std::string bytes = ReadBytes(std::string(ORNBROOK_TEST_DATA) + sample);
        ASSERT_FALSE(bytes.empty()) << sample;
        WriteBytes(File(), bytes);
        MainInterface list;
        ASSERT_EQ(list.GetURLsCount(), urls) << sample;
        EXPECT_EQ(list.GetURL(1)->URL(), firstUrl) << sample;
        EXPECT_EQ(list.GetURL(1)->GetFilesCount(), firstFiles) << sample;
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
        WriteBytes(File(), bad);
        MainInterface list;
        // Every frame takes at least its 3 length bytes, every entry at least one.
        ASSERT_LE(list.GetURLsCount(), static_cast<std::int32_t>(bad.size() / 3 + 1));
        std::int64_t entries = 0;
        for (std::int32_t i = 1; i <= list.GetURLsCount(); ++i)
            entries += list.GetURL(i)->GetFilesCount();
        ASSERT_LE(entries, static_cast<std::int64_t>(bad.size()));
    }
}
