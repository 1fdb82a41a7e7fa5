#include "base/FileReplacement.h"
#include "model/DataFileFormat.h"
#include "model/FileStore.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/support/SaveCount.h"
#include "tests/support/TempProgramDir.h"

#include "base/FileIO_Code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

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

std::vector<UrlRecord> Frames(std::string_view file) {
    std::vector<UrlRecord> records;
    ReadFrames(file, [&](UrlRecord& record) { records.push_back(std::move(record)); });
    return records;
}

std::uint32_t ModeOf(const std::string& fileName) {
    struct stat info {};
    ::stat(fileName.c_str(), &info);
    return info.st_mode & 0777;
}

// The files beside the data file, but for the store and its key that live
// there too.
std::vector<std::string> Beside(const TempProgramDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string name = entry.path().filename().string();
        if (name != "maindata.dat" && !name.starts_with("ornbrook.sqlite") && name != "urlkey.dat")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
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

    // Frames follow each other without gaps; two of one URL are two records.
    AppendFrame(file, "ftp://srv/pub/incomin", "", Entries({}));
    const FramesRead read = ReadFrames(file, [](UrlRecord&) {});
    EXPECT_EQ(read.Whole, 2u);
    EXPECT_FALSE(read.Damaged());
    EXPECT_FALSE(ReadFrames("", [](UrlRecord&) {}).Damaged());
}

TEST(DataFileFormat, RecordsAreTakenOnlyAsFarAsTheyCheckOut) {
    const auto entries = Entries({{"a", 0}, {"b b", 1}, {"\xe4\xff\x01", 2}, {"", 0}});
    using enum RecordCheck;
    const struct {
        std::string data;
        RecordCheck check;
        std::string url;
        std::string error;
        std::vector<FileEntry> entries;
    } rows[] = {
        // Names hold whatever the server sent; messages likewise.
        {EncodeRecord("ftp://h/", "could not\tconnect", entries), Whole, "ftp://h/",
         "could not\tconnect", entries},
        {Bytes({1, 0, 0}) + "u" + Bytes({1, 0, 0}) + "e", Whole, "u", "e", Entries({})},
        // An entry cut short is dropped, never read as "old".
        {Bytes({1, 0, 0, 'u', 0, 0, 0, 1, 0, 0, 'a', 1, 2, 0, 0}) + "ab", Partial, "u", "",
         Entries({{"a", 1}})},
        {Bytes({1, 0, 0, 'u', 0, 0, 0, 200, 0, 0}) + "abc", Partial, "u", "", Entries({})},
        // A state no version writes ends what is taken.
        {Bytes({1, 0, 0, 'u', 0, 0, 0, 1, 0, 0, 'a', 0, 1, 0, 0, 'x', 3, 1, 0, 0, 'b', 1}), Partial,
         "u", "", Entries({{"a", 0}})},
        // An error text cut short is none; the URL stays.
        {Bytes({1, 0, 0, 'u', 9, 0, 0}) + "could", Partial, "u", "", Entries({})},
        // No usable URL: lengths that lie, too few bytes, none at all, control characters.
        {Bytes({0, 0, 0, 0, 0, 0, 7}), Unusable, "", "", Entries({})},
        {Bytes({255, 255, 255}) + "short", Unusable, "", "", Entries({})},
        {Bytes({1}), Unusable, "", "", Entries({})},
        {"", Unusable, "", "", Entries({})},
        {Bytes({5, 0, 0}) + "ftp:\n" + Bytes({0, 0, 0}), Unusable, "", "", Entries({})},
        {Bytes({5, 0, 0}) + "ftp:\x7f" + Bytes({0, 0, 0}), Unusable, "", "", Entries({})},
    };
    for (const auto& row : rows) {
        UrlRecord record;
        EXPECT_EQ(DecodeRecordInto(row.data, record), row.check)
            << testing::PrintToString(row.data);
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
    EXPECT_LE(file.size() - 3, MaxFieldLength);
    const auto records = Frames(file);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].URL, "ftp://h/");
    EXPECT_EQ(records[0].Entries.size() - 1 + omitted, 17000u);
    EXPECT_EQ(records[0].Entries.back(), (FileEntry{name, 1}));

    // A URL too long for its field is cut so that the frame still reads back.
    std::string second;
    AppendFrame(second, std::string(MaxFieldLength + 10, 'u'), "could not connect",
                Entries({{"a", 1}}));
    EXPECT_EQ(second.size(), MaxFieldLength + 3);
    EXPECT_EQ(ReadFrames(second, [](UrlRecord&) {}).Whole, 1u);

    // A listing too large to save fails the check and keeps the entries.
    UrlFileList list;
    list.SetURL("ftp://h/");
    list.MergeFreshListing({"a", "b"});
    list.MergeFreshListing(std::vector<std::string>(17000, name));
    EXPECT_EQ(list.GetErrorMsg(), UrlFileList::TooLargeMessage);
    ASSERT_EQ(list.GetFilesCount(), 2);
    list.MergeFreshListing({"a"}); // one that fits merges as usual
    EXPECT_EQ(list.GetFileState(2), FileStateGone);

    // The log tells what was left out, without the password.
    TempProgramDir dir;
    const test::SaveCount statistics; // the debug window's log with it
    const std::string url = "ftp://anna:s3cret@h/";
    std::string one;
    AppendFrame(one, url, "", Entries({}));
    WriteBytes(dir.File("maindata.dat"), one);
    MainInterface watchList;
    watchList.GetURL(1)->SetByRecord(UrlRecord{url, "", std::move(entries)});
    watchList.SaveData();
    EXPECT_NE(DebugPaneText().find("entries of ftp://anna:***@h/ left out"), std::string::npos)
        << DebugPaneText();
    EXPECT_EQ(DebugPaneText().find("s3cret"), std::string::npos);
}

class WatchListFile : public ::testing::Test {
protected:
    std::string File() const { return dir_.File("maindata.dat"); }
    TempProgramDir dir_;
};

TEST_F(WatchListFile, LoadSaveRemoveAndRefresh) {
    {
        MainInterface missing; // a missing file is created empty, owner-only
        EXPECT_EQ(missing.GetURLsCount(), 0);
        EXPECT_EQ(ReadBytes(File()), "");
        EXPECT_EQ(ModeOf(File()), 0600u);
    }
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"keep", 0}, {"gone", 2}, {"new", 1}, {"last", 0}}));
    AppendFrame(file, "u2", "could not change dir", Entries({}));
    AppendFrame(file, "u1", "", Entries({{"dup", 1}}));
    WriteBytes(File(), file);
    const test::SaveCount count;
    MainInterface list;
    ASSERT_EQ(list.GetURLsCount(), 3); // two frames of one URL load as two entries
    EXPECT_EQ(list.GetURL(2)->GetErrorMsg(), "could not change dir");
    EXPECT_EQ(list.GetURLIndex("u1"), 1);
    EXPECT_EQ(list.TakeDamageNotice(), "");
    list.SaveData();
    list.FinishSaves();
    EXPECT_EQ(ReadBytes(File()), file);

    int changes = 0;
    Subscriptions subs;
    subs += list.Change.Connect([&](const ListChange&) { ++changes; });
    list.RemoveURL("u2");
    list.RemoveURL("not there"); // changes nothing, still rewrites
    EXPECT_EQ(list.GetURLsCount(), 2);
    EXPECT_EQ(list.GetURL(2)->GetFileName(1), "dup");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(list.GetURL(0), nullptr);
    EXPECT_THROW(list.GetURL(3), std::out_of_range);
    EXPECT_EQ(count.Saves(list), 3);

    // One save for the refresh of every list.
    list.Refresh();
    EXPECT_EQ(count.Saves(list), 4);
    EXPECT_EQ(changes, 1);
    const auto u1 = list.GetURL(1);
    // The gone entry's slot is taken by the last entry.
    ASSERT_EQ(u1->GetFilesCount(), 3);
    EXPECT_EQ(u1->GetFileName(2), "last");
    EXPECT_EQ(u1->GetFileName(3), "new");
    EXPECT_FALSE(u1->IsChanged());
    EXPECT_EQ(u1->GetFileName(0), "");
    EXPECT_THROW(u1->GetFileName(4), std::out_of_range);
    // A save point with nothing changed writes nothing.
    list.SaveIfChanged();
    EXPECT_EQ(count.Saves(list), 4);

    const std::string saved = ReadBytes(File());
    MainInterface reloaded;
    EXPECT_EQ(reloaded.GetURLsCount(), 2);
    EXPECT_EQ(reloaded.GetURL(1)->GetFileName(2), "last");
    EXPECT_EQ(reloaded.GetURL(1)->GetFileState(3), FileStateOld);
    // Deferred saves wait for the save point; it writes them once.
    reloaded.DeferSaves();
    reloaded.RemoveURL("u1");
    reloaded.Refresh();
    EXPECT_EQ(ReadBytes(File()), saved);
    EXPECT_TRUE(reloaded.HasUnsavedChanges());
    reloaded.SaveIfChanged();
    EXPECT_EQ(count.Saves(reloaded), 5);
    EXPECT_FALSE(reloaded.HasUnsavedChanges());
    reloaded.Cancel(); // empties the list without saving
    EXPECT_EQ(reloaded.GetURLsCount(), 0);
    reloaded.FinishSaves();
    EXPECT_EQ(Frames(ReadBytes(File())).size(), 1u);
}

TEST_F(WatchListFile, FailedSaveKeepsThePreviousFile) {
    std::string file;
    AppendFrame(file, "u1", "", Entries({{"a", 1}}));
    WriteBytes(File(), file);
    MainInterface list;
    list.Refresh(); // saves fine
    list.FinishSaves();
    const std::string saved = ReadBytes(File());
    EXPECT_NE(saved, file);

    // The disk is full halfway through the new file (a file size limit, which
    // no permission of root gets round): the save fails loudly, the old file stays.
    list.GetURL(1)->MergeFreshListing(std::vector<std::string>(1000, "a-long-enough-name"));
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 1000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    list.SaveData();
    EXPECT_THROW(list.FinishSaves(), FileError);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(ReadBytes(File()), saved);
    EXPECT_TRUE(list.HasUnsavedChanges());

    // A successful save leaves no temporary file behind.
    list.SaveData();
    list.FinishSaves();
    EXPECT_TRUE(Beside(dir_).empty());
}

TEST_F(WatchListFile, SavesAreOwnerOnlyAndKilledSavesLeaveNothingForLong) {
    std::string file;
    AppendFrame(file, "ftp://anna:secret@h/", "", Entries({{"a", 0}}));
    WriteBytes(File(), file);
    ::chmod(File().c_str(), 0644);
    // A run killed during its save leaves its temporary file behind.
    const pid_t child = ::fork();
    if (child == 0) {
        FileReplacement replacement(File());
        replacement.Write("half a data file");
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(Beside(dir_).size(), 1u);
    const std::string stale = Beside(dir_)[0];
    EXPECT_TRUE(stale.starts_with("maindata.dat." + std::to_string(child) + ".")) << stale;
    EXPECT_EQ(ModeOf(dir_.File(stale)), 0600u);
    // Earlier versions named theirs by the pid alone; a running process's stays.
    WriteBytes(dir_.File("maindata.dat." + std::to_string(child) + ".tmp"), "old style");
    const std::string running =
        "maindata.dat." + std::to_string(::getppid()) + ".0123456789abcdef.tmp";
    WriteBytes(dir_.File(running), "a save under way");

    MainInterface list; // a start clears up and narrows the mode
    EXPECT_EQ(Beside(dir_), std::vector<std::string>{running});
    EXPECT_EQ(ModeOf(File()), 0600u);
    EXPECT_EQ(list.GetURLsCount(), 1);
    // Every save is owner-only, whatever the file allowed before.
    for (const mode_t before : {0644, 0400, 0600}) {
        ::chmod(File().c_str(), before);
        list.SaveData();
        list.FinishSaves();
        EXPECT_EQ(ModeOf(File()), 0600u) << before;
        EXPECT_EQ(ReadBytes(File()), file);
    }
    EXPECT_EQ(Beside(dir_), std::vector<std::string>{running});

    // Temporary names are new every time and cannot be guessed.
    std::string first, second;
    ::close(CreateTemporaryFile(File(), first));
    ::close(CreateTemporaryFile(File(), second));
    EXPECT_NE(first, second);
    EXPECT_EQ(first.size(), File().size() + 1 + std::to_string(::getpid()).size() + 1 + 16 + 4);
}

TEST_F(WatchListFile, DamagedFilesAreKeptAsTheyWereAndLoadWhatChecksOut) {
    // sample, the URLs that load with their numbers of entries
    using Loaded = std::vector<std::pair<std::string, int>>;
    const std::pair<const char*, Loaded> rows[] = {
        {"random-bytes.dat", {}},
        {"text.dat", {}},
        {"foreign-header.dat", {}},
        {"single-byte.dat", {}},
        {"truncated-frame.dat", {{"ftp://a/", 2}}},
        {"frame-past-end.dat", {{"ftp://a/", 1}}},
        {"missing-state.dat", {{"ftp://a/", 1}}},
        {"lying-lengths.dat", {{"ftp://a/", 1}, {"ftp://c/", 0}}},
        {"bad-state.dat", {{"ftp://a/", 1}, {"ftp://b/", 1}, {"ftp://c/", 1}}},
        {"control-in-url.dat", {{"ftp://a/", 1}, {"ftp://c/", 0}}},
        {"empty-url.dat", {{"ftp://a/", 1}, {"ftp://c/", 0}}},
        {"ff-then-zeros.dat", {}},
    };
    for (const auto& [sample, loaded] : rows) {
        SCOPED_TRACE(sample);
        const std::string bytes = ReadBytes(std::string(ORNBROOK_TEST_DATA) + sample);
        ASSERT_FALSE(bytes.empty());
        WriteBytes(File(), bytes);
        std::string notice;
        {
            MainInterface list;
            Loaded got;
            for (std::int32_t i = 1; i <= list.GetURLsCount(); ++i)
                got.emplace_back(list.GetURL(i)->URL(), list.GetURL(i)->GetFilesCount());
            EXPECT_EQ(got, loaded);
            notice = list.TakeDamageNotice();
            EXPECT_EQ(list.TakeDamageNotice(), ""); // told once
        }
        // Kept byte for byte, owner-only, and named in what the user is told.
        const auto beside = Beside(dir_);
        ASSERT_EQ(beside.size(), 1u);
        EXPECT_TRUE(beside[0].starts_with("maindata.dat.damaged-")) << beside[0];
        EXPECT_EQ(ReadBytes(dir_.File(beside[0])), bytes);
        EXPECT_EQ(ModeOf(dir_.File(beside[0])), 0600u);
        EXPECT_NE(notice.find(dir_.File(beside[0])), std::string::npos) << notice;
        EXPECT_NE(notice.find(loaded.empty() ? "starts empty" : "what could be read is loaded"),
                  std::string::npos)
            << notice;

        // The same damage found again: no second copy, nothing more to tell.
        MainInterface again;
        EXPECT_EQ(again.TakeDamageNotice(), "");
        EXPECT_EQ(Beside(dir_).size(), 1u);
        // Once written, the file checks out; the copy stays.
        again.SaveData();
        again.FinishSaves();
        EXPECT_FALSE(ReadFrames(ReadBytes(File()), [](UrlRecord&) {}).Damaged());
        DeleteFileIfExists(dir_.File("maindata.dat.damaged-*"));
    }
}

// The other files the watch list reads are kept aside when damaged, as
// maindata.dat is: each damage gets a copy of its own, never over an earlier
// one (within one second too), and is told once.
TEST_F(WatchListFile, EveryDamagedFileIsKeptAndToldOnceEachTime) {
    std::string file;
    AppendFrame(file, "ftp://h/", "", {FileEntry{}});
    WriteBytes(File(), file);
    const std::string hostKey =
        "h ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIAABAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4f\n";
    std::string certificate = "h:990 AB";
    for (int i = 1; i < 32; ++i)
        certificate += ":AB";
    certificate += "\r\n";
    // the file, its damage, what it holds after (the lines that could be read)
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"urlsettings.json", R"({"version": 2, "urls": [{"url": "ftp://h/", "depth": 2)", ""},
        {"ornbrook.sqlite", "not a database at all", ""},
        {"knownhosts.dat", hostKey + "h ssh-ed25519 AAAAC3NzaC1\n", hostKey},
        {"trustedcerts.dat", "h:21 AB:C\r\n" + certificate, certificate},
        {"urlkey.dat", "not a key", ""},
    };
    for (const auto& [name, damage, after] : rows) {
        SCOPED_TRACE(name);
        const auto copies = [&, &name = name] {
            std::vector<std::string> kept;
            for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
                const std::string found = entry.path().filename().string();
                if (found.starts_with(std::string(name) + ".damaged-") &&
                    !found.ends_with("-wal") && !found.ends_with("-shm"))
                    kept.push_back(entry.path().string());
            }
            std::sort(kept.begin(), kept.end());
            return kept;
        };
        for (std::size_t round = 1; round <= 2; ++round) {
            const std::string bytes = damage + std::string(round - 1, '\n');
            WriteBytes(dir_.File(name), bytes);
            {
                MainInterface list;
                const std::string notice = list.TakeDamageNotice();
                const auto kept = copies();
                ASSERT_EQ(kept.size(), round);
                EXPECT_NE(notice.find("kept as " + kept.back()), std::string::npos) << notice;
                EXPECT_EQ(ReadBytes(kept.back()), bytes);
                EXPECT_EQ(ModeOf(kept.back()), 0600u);
            }
            MainInterface again;
            EXPECT_EQ(again.TakeDamageNotice(), "");
            if (round == 1 && !after.empty()) {
                EXPECT_EQ(ReadBytes(dir_.File(name)), after);
            }
        }
    }
}

TEST_F(WatchListFile, RandomCorruptionNeverBreaksLoading) {
    std::string good;
    AppendFrame(good, "ftp://user:pw@host:2121/dir/", "could not connect",
                Entries({{"alpha", 0}, {"beta", 1}, {"gamma", 2}, {"delta", 1}}));
    AppendFrame(good, "ftp://other/", "", Entries({{"x", 0}}));
    std::mt19937 random(99);
    for (int round = 0; round < 400; ++round) {
        std::string bad = good;
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < flips; ++f)
            bad[random() % bad.size()] = static_cast<char>(random() % 256);
        if (random() % 3 == 0)
            bad.resize(random() % bad.size());
        WriteBytes(File(), bad);
        MainInterface list;
        for (std::int32_t i = 1; i <= list.GetURLsCount(); ++i) {
            const auto url = list.GetURL(i);
            ASSERT_EQ(url->URL().find_first_of("\n\r\t"), std::string::npos);
            ASSERT_FALSE(url->URL().empty());
            for (std::int32_t k = 1; k <= url->GetFilesCount(); ++k)
                ASSERT_LE(static_cast<std::uint32_t>(url->GetFileState(k)), 2u);
        }
        // A file that checks out saves back byte for byte; any other is kept aside.
        if (list.TakeDamageNotice().empty()) {
            ASSERT_TRUE(Beside(dir_).empty()) << round;
            list.SaveData();
            ASSERT_EQ(ReadBytes(File()), bad) << round;
        } else {
            ASSERT_EQ(Beside(dir_).size(), 1u) << round;
            ASSERT_EQ(ReadBytes(dir_.File(Beside(dir_)[0])), bad) << round;
            DeleteFileIfExists(dir_.File("maindata.dat.damaged-*"));
        }
    }
}

// The store only adds to what the data file says: where the two were not
// saved together (a crash between them), or the store is lost or unreadable,
// no mark is made up, and the user is told once.
TEST_F(WatchListFile, TheStoreNeverMakesUpAMark) {
    std::string file;
    AppendFrame(file, "u", "", {FileEntry{}, {"a", 1}, {"b", 0}, {"c", 1}});
    WriteBytes(MainInterface::DataFileName(), file);
    const auto stored = [](const std::string& name, std::int32_t dataState, bool changed,
                           bool arriving = false, bool settled = true) {
        StoredFile row;
        row.Name = name;
        row.Facts.Source = ListingSource::Machine;
        row.Facts.Size = 1;
        row.Changed = changed;
        row.Arriving = arriving;
        row.Settled = settled;
        row.DataState = dataState;
        return row;
    };
    {
        std::string notice;
        const std::string u = UrlNames::Load(MainInterface::KeyFileName(), notice).Of("u");
        EXPECT_TRUE((*FileStore::Open(MainInterface::StoreFileName(), notice, {}))
                        ->Save({StoreChange{u,
                                            // a: saved with the file; c: the store was saved
                                            // before the file, which then moved on.
                                            {stored("a", 1, true), stored("c", 0, true),
                                             stored("up", -1, false, true, false),
                                             stored("gone-from-file", 0, false)},
                                            {},
                                            false,
                                            {}}}));
    }
    const auto marks = [](const MainInterface& watchList) {
        std::vector<std::pair<std::string, FileMark>> shown;
        const auto list = watchList.GetURL(1);
        for (std::int32_t i = 1; i <= list->GetFilesCount(); ++i)
            shown.emplace_back(list->GetFileName(i), list->GetFileMark(i));
        return shown;
    };
    using M = FileMark;
    {
        MainInterface watchList;
        EXPECT_EQ(marks(watchList),
                  (std::vector<std::pair<std::string, FileMark>>{
                      {"a", M::Changed}, {"b", M::Old}, {"c", M::New}, {"up", M::Arriving}}));
        EXPECT_EQ(watchList.TakeDamageNotice(), "");
    }
    // A store that is not one (or lost, or of a newer version): the data file
    // alone, told once.
    WriteBytes(MainInterface::StoreFileName(), "not a database at all");
    {
        MainInterface watchList;
        EXPECT_EQ(marks(watchList), (std::vector<std::pair<std::string, FileMark>>{
                                        {"a", M::New}, {"b", M::Old}, {"c", M::New}}));
        EXPECT_NE(watchList.TakeDamageNotice().find("ornbrook.sqlite"), std::string::npos);
    }
    MainInterface again;
    EXPECT_EQ(again.TakeDamageNotice(), "");
}
