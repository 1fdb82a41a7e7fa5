#include "diag/Debug_Modul.h"

#include "base/Clock.h"
#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>
#include <tuple>
#include <vector>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

// Records what the module shows, as the window would.
struct RecordingView final : DebugView {
    std::string pane;

    void ShowWindow() override {}
    void ShowPaneText(const std::string& text) override { pane = text; }
    void ShowClassRow(std::size_t, const KlassenInfo&) override {}
    void ShowProzessRow(std::size_t, const ProzessInfo&) override {}
};

const std::string none = "(no file)";

class DebugModulTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugActive = true;
        Unloading = false;
        SetDebugViewFactory([this] {
            auto view = std::make_unique<RecordingView>();
            view_ = view.get();
            return view;
        });
        ReleaseDebugView();
        InitDebug();
    }
    void TearDown() override {
        ReleaseDebugView();
        SetDebugViewFactory({});
        InitDebug();
        DebugActive = false;
        Unloading = false;
    }
    std::string Content(const std::string& name) const {
        return FileExists(dir_.File(name)) ? ReadBytes(dir_.File(name)) : none;
    }

    TempProgramDir dir_;
    RecordingView* view_ = nullptr;
};

} // namespace

TEST_F(DebugModulTest, LogFileOnlyAtLevelsTwoAndThreeAndBestEffort) {
    SetLogLevel(2);
    DebugActive = false;
    WriteLog("too early");
    EXPECT_EQ(Content("log.txt"), none);
    DebugActive = true;
    ShowDebugForm();
    std::string allLines;
    for (const std::int16_t level : std::initializer_list<std::int16_t>{0, 1, 2, 3, 4, -1}) {
        DeleteFileIfExists(dir_.File("log.txt"));
        SetLogLevel(level);
        WriteLog("line");
        allLines += "line\r\n";
        EXPECT_EQ(Content("log.txt"), level == 2 || level == 3 ? "line\r\n" : none) << level;
    }
    // A server's words are one line whatever they hold.
    SetLogLevel(3);
    DeleteFileIfExists(dir_.File("log.txt"));
    WriteLog("x.csv\r\nsaved y\x1b");
    EXPECT_EQ(Content("log.txt"), "x.csv\\r\\nsaved y\\x1b\r\n");
    allLines += "x.csv\\r\\nsaved y\\x1b\r\n";
    DeleteFileIfExists(dir_.File("log.txt"));
    EXPECT_EQ(view_->pane, allLines); // the window takes every line whatever the level

    // A file that cannot be written is skipped.
    SetLogLevel(2);
    std::filesystem::create_directory(dir_.File("log.txt"));
    EXPECT_NO_THROW(WriteLog("lost"));
    EXPECT_EQ(view_->pane, allLines + "lost\r\n");
    // After unloading has begun only the file is written.
    std::filesystem::remove(dir_.File("log.txt"));
    Unloading = true;
    WriteLog("Exit");
    EXPECT_EQ(Content("log.txt"), "Exit\r\n");
    EXPECT_EQ(view_->pane, allLines + "lost\r\n");
}

TEST(DebugPane, KeepsBelowTheLimit) {
    std::string full; // 320 lines of 100 bytes
    for (int i = 0; i < 320; ++i)
        full += std::string(98, 'x') + "\r\n";
    std::string umlauts;
    for (int i = 0; i < 20000; ++i)
        umlauts += "\xc3\xa4";
    const std::string cutHuge = std::string(100, 'h') + "...\r\n";
    const struct {
        std::string pane, line, expected;
    } rows[] = {
        {"a\r\n", "b", "a\r\nb\r\n"},
        // The oldest lines go one by one until the new line fits.
        {full, "new", full.substr(100) + "new\r\n"},
        // A line too long for any pane: every line goes, then it is cut to 100
        // characters and "...", never inside a UTF-8 sequence.
        {"no break here", std::string(40000, 'h'), cutHuge},
        {"a\r\nb\r\n", std::string(40000, 'h'), cutHuge},
        {"", umlauts, umlauts.substr(0, 100) + "...\r\n"},
        // 31999 + 2 = 32001 is too long; one less fits.
        {"", std::string(31999, 'y'), std::string(100, 'y') + "...\r\n"},
        {"", std::string(31998, 'y'), std::string(31998, 'y') + "\r\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(AppendPaneLine(row.pane, row.line), row.expected) << row.line.size();
}

TEST_F(DebugModulTest, CountsLiveObjectsPerClass) {
    ClassCreated("Early"); // before the window: not counted
    ShowDebugForm();
    for (const char* name : {"UrlFileList", "UrlFileList", "UrlFileList", "urlfilelist"})
        ClassCreated(name);
    ClassTerminated("UrlFileList");
    ClassTerminated("NeverCreated");
    // Checks on worker threads count, time and log at the same time: nothing is lost.
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([] {
            for (int i = 0; i < 100; ++i) {
                ClassCreated("CheckJob");
                RecordProzessRun("Check", 2);
                WriteLog("checked");
            }
        });
    for (auto& worker : workers)
        worker.join();
    const auto runs = Prozesse()[GetIndexOfProzess("Check")];
    EXPECT_EQ(std::tuple(LiveCount("CheckJob"), runs.Anzahl, runs.Gesammt),
              std::tuple(400, 400, 800));
    Unloading = true; // counts stand still from here on
    ClassTerminated("UrlFileList");
    EXPECT_EQ(std::tuple(LiveCount("Early"), LiveCount("UrlFileList"), LiveCount("urlfilelist")),
              std::tuple(0, 2, 1));
    EXPECT_EQ(Klassen().size(), 4u); // the empty first row, two spellings and the workers'
}

TEST_F(DebugModulTest, TimesNestedAndRecursiveProcesses) {
    ManualClock clock(1000);
    StartProzess("early"); // before the window: not timed
    StopProzess("early");
    EXPECT_EQ(Prozesse().size(), 1u);
    ShowDebugForm();
    StartProzess("A");
    clock.Advance(5);
    StartProzess("A"); // recursion: the newer start is consumed first
    EXPECT_EQ(Prozesse()[1].Tag, "1005|1000|");
    clock.Advance(10);
    StopProzess("A");
    StopProzess("A");
    StopProzess("A"); // without a pending start: ignored for the statistics
    const ProzessInfo a = Prozesse()[1];
    EXPECT_EQ(std::tuple(a.Durchschnitt, a.Laengste, a.Anzahl, a.Gesammt, a.Tag),
              std::tuple(12.5, 15, 2, 25, ""));

    clock.Set(0xFFFFFFF0u); // across the clock's wrap, the start taken as signed
    StartProzess("wrap");
    EXPECT_EQ(Prozesse()[2].Tag, "-16|");
    clock.Advance(0x20);
    StopProzess("wrap");
    EXPECT_EQ(Prozesse()[2].Gesammt, 0x20);

    StartProzess("late"); // no timing once unloading has begun
    Unloading = true;
    clock.Advance(7);
    StopProzess("late");
    EXPECT_EQ(std::tuple(Prozesse()[3].Anzahl, Prozesse()[3].Tag), std::tuple(0, "16|"));
}

TEST_F(DebugModulTest, StackAndInfoFilesFollowTheSwitches) {
    const struct {
        bool debugFile, prozessInfo;
        std::string stack, depth1, depth2, depth0;
    } rows[] = {
        // Without DEBUGFILE every info line goes to depth 0.
        {false, true, none, none, none, "inside B\r\n"},
        {true, false, "|A|B|\r\n", none, none, none},
        {true, true, "|A|B|\r\n", ">> A <<\r\nStart...\r\n", ">> B <<\r\nStart...\r\ninside B\r\n",
         none},
    };
    for (const auto& row : rows) {
        InitDebug(); // also deletes what the run before left behind
        if (row.debugFile)
            EnableDebugFile();
        if (row.prozessInfo)
            EnableProzessInfo();
        StartProzess("A");
        StartProzess("B");
        WriteProzessInfo("inside B");
        EXPECT_EQ(Content("debugfile.prozesse"), row.stack);
        EXPECT_EQ(Content("debugfile.prozessinfo.1"), row.depth1);
        EXPECT_EQ(Content("debugfile.prozessinfo.2"), row.depth2);
        StopProzess("B");
        EXPECT_EQ(Content("debugfile.prozessinfo.2"), none);
        EXPECT_EQ(Content("debugfile.prozessinfo.1"), row.depth1);
        StopProzess("whatever"); // pops the innermost name, whatever is passed
        EXPECT_EQ(ProzessStack(), "|");
        EXPECT_EQ(Content("debugfile.prozesse"), row.debugFile ? "|\r\n" : none);
        EXPECT_EQ(Content("debugfile.prozessinfo.0"), row.depth0);
    }
    StartProzess("C"); // the next start deletes what a crashed run left behind
    InitDebug();
    EXPECT_EQ(Content("debugfile.prozesse"), none);
    EXPECT_EQ(Content("debugfile.prozessinfo.1"), none);
}
