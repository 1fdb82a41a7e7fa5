#include "diag/Debug_Modul.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "platform/Clock.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <map>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

// Records what the module shows, as the window would.
struct RecordingView final : DebugView {
    bool shown = false;
    std::string pane;
    std::map<std::size_t, KlassenInfo> classRows;
    std::map<std::size_t, ProzessInfo> prozessRows;

    void ShowWindow() override { shown = true; }
    void ShowPaneText(const std::string& text) override { pane = text; }
    void ShowClassRow(std::size_t row, const KlassenInfo& info) override { classRows[row] = info; }
    void ShowProzessRow(std::size_t row, const ProzessInfo& info) override {
        prozessRows[row] = info;
    }
};

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
    }
    void ShowWindow() {
        ShowDebugForm();
        ASSERT_NE(view_, nullptr);
    }

    TempProgramDir dir_;
    RecordingView* view_ = nullptr;
};

} // namespace

TEST_F(DebugModulTest, LogFileOnlyAtLevelsTwoAndThree) {
    ShowWindow();
    for (const std::int16_t level : {0, 1, 2, 3, 4, -1}) {
        DeleteFileIfExists(dir_.File("log.txt"));
        SetLogLevel(level);
        WriteLog("line");
        const bool written = FileExists(dir_.File("log.txt"));
        EXPECT_EQ(written, level == 2 || level == 3) << level;
        if (written) {
            EXPECT_EQ(ReadBytes(dir_.File("log.txt")), "line\r\n");
        }
    }
    // The window takes every line whatever the level.
    EXPECT_EQ(view_->pane, std::string("line\r\n")
                               .append("line\r\n")
                               .append("line\r\n")
                               .append("line\r\n")
                               .append("line\r\n")
                               .append("line\r\n"));
}

TEST_F(DebugModulTest, LogIsQuietBeforeStartAndWindowSilentAfterUnloading) {
    DebugActive = false;
    SetLogLevel(2);
    WriteLog("too early");
    EXPECT_FALSE(FileExists(dir_.File("log.txt")));
    DebugActive = true;
    ShowWindow();
    Unloading = true;
    WriteLog("Exit");
    EXPECT_EQ(ReadBytes(dir_.File("log.txt")), "Exit\r\n");
    EXPECT_EQ(view_->pane, "");
}

TEST_F(DebugModulTest, UnwritableLogFileIsSkipped) {
    ShowWindow();
    SetLogLevel(2);
    std::filesystem::create_directory(dir_.File("log.txt"));
    EXPECT_NO_THROW(WriteLog("lost"));
    EXPECT_EQ(view_->pane, "lost\r\n");
}

TEST(DebugPane, KeepsBelowTheLimit) {
    const std::string crlf = "\r\n";
    // Fits: appended as it is.
    EXPECT_EQ(AppendPaneLine("a\r\n", "b"), "a\r\nb\r\n");

    // Full pane: the oldest lines go one by one until the new line fits.
    std::string pane;
    const std::string line(98, 'x'); // 100 bytes with the break
    for (int i = 0; i < 320; ++i)
        pane += line + crlf;
    ASSERT_EQ(pane.size(), 32000u);
    std::string next = AppendPaneLine(pane, "new");
    EXPECT_LT(next.size(), PaneLimit);
    EXPECT_EQ(next.size(), 32000u - 100 + 5);
    EXPECT_TRUE(next.ends_with("new\r\n"));

    // A huge line with no break in the pane: cut to 100 characters and "...".
    const std::string huge(40000, 'h');
    EXPECT_EQ(AppendPaneLine("no break here", huge), std::string(100, 'h') + "..." + crlf);
    // A huge line when the pane has lines: they all go first, then the cut.
    EXPECT_EQ(AppendPaneLine("a\r\nb\r\n", huge), std::string(100, 'h') + "..." + crlf);
    // Exactly at the limit: 31999 + 2 = 32001 is too long.
    EXPECT_EQ(AppendPaneLine("", std::string(31999, 'y')).size(), 105u);
    EXPECT_EQ(AppendPaneLine("", std::string(31998, 'y')).size(), 32000u);
    // The cut never splits a UTF-8 sequence.
    std::string umlauts;
    for (int i = 0; i < 20000; ++i)
        umlauts += "\xc3\xa4";
    EXPECT_EQ(AppendPaneLine("", umlauts), umlauts.substr(0, 100) + "..." + crlf);
}

TEST_F(DebugModulTest, CountsLiveObjectsPerClass) {
    ClassCreated("Early"); // before the window: not counted
    ShowWindow();
    ClassCreated("UrlFileList");
    ClassCreated("UrlFileList");
    ClassCreated("UrlFileList");
    ClassCreated("urlfilelist");
    ClassTerminated("UrlFileList");
    ClassTerminated("NeverCreated");
    const auto klassen = Klassen();
    ASSERT_EQ(klassen.size(), 3u);
    EXPECT_EQ(klassen[1].Name, "UrlFileList");
    EXPECT_EQ(klassen[1].Anzahl, 2);
    EXPECT_EQ(klassen[2].Name, "urlfilelist");
    EXPECT_EQ(klassen[2].Anzahl, 1);
    EXPECT_EQ(view_->classRows[1].Anzahl, 2);
    EXPECT_EQ(view_->classRows.size(), 2u);

    Unloading = true;
    ClassTerminated("UrlFileList");
    EXPECT_EQ(LiveCount("UrlFileList"), 2);
}

TEST_F(DebugModulTest, LiveObjectReportsItsLife) {
    ShowWindow();
    {
        LiveObject a("Thing");
        LiveObject b = a;
        EXPECT_EQ(LiveCount("Thing"), 2);
    }
    EXPECT_EQ(LiveCount("Thing"), 0);
}

TEST_F(DebugModulTest, TimesNestedAndRecursiveProcesses) {
    ManualClock clock(1000);
    ShowWindow();
    StartProzess("A");
    clock.Advance(5);
    StartProzess("A"); // recursion: the newer start is consumed first
    EXPECT_EQ(Prozesse()[1].Tag, "1005|1000|");
    clock.Advance(10);
    StopProzess("A");
    clock.Advance(0);
    StopProzess("A");
    auto row = Prozesse()[1];
    EXPECT_EQ(row.Anzahl, 2);
    EXPECT_EQ(row.Gesammt, 25);
    EXPECT_EQ(row.Laengste, 15);
    EXPECT_DOUBLE_EQ(row.Durchschnitt, 12.5);
    EXPECT_EQ(row.Tag, "");
    EXPECT_EQ(view_->prozessRows[1].Anzahl, 2);

    // A stop without a pending start is ignored for the statistics.
    StopProzess("A");
    EXPECT_EQ(Prozesse()[1].Anzahl, 2);

    // Averages are rounded to two decimals, halves to even.
    StartProzess("B");
    clock.Advance(1);
    StopProzess("B");
    StartProzess("B");
    StopProzess("B");
    StartProzess("B");
    StopProzess("B");
    EXPECT_DOUBLE_EQ(Prozesse()[2].Durchschnitt, 0.33);
}

TEST_F(DebugModulTest, DurationAcrossTheClockWrap) {
    ManualClock clock(0xFFFFFFF0u);
    ShowWindow();
    StartProzess("wrap");
    EXPECT_EQ(Prozesse()[1].Tag, "-16|"); // the clock taken as signed
    clock.Advance(0x20);
    StopProzess("wrap");
    EXPECT_EQ(Prozesse()[1].Gesammt, 0x20);
}

TEST_F(DebugModulTest, BlankProcessNameIsLoggedAndTimed) {
    ShowWindow();
    StartProzess("  ");
    StopProzess("  ");
    EXPECT_NE(DebugPaneText().find("ERROR in GetIndexOfProzess: TheName = \"\""),
              std::string::npos);
    EXPECT_EQ(Prozesse()[1].Anzahl, 1);
}

TEST_F(DebugModulTest, OpenProcessFileAndInfoFilesWithBothSwitches) {
    EnableDebugFile();
    EnableProzessInfo();
    StartProzess("A");
    StartProzess("B");
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozesse")), "|A|B|\r\n");
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozessinfo.1")), ">> A <<\r\nStart...\r\n");
    WriteProzessInfo("inside B");
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozessinfo.2")),
              ">> B <<\r\nStart...\r\ninside B\r\n");
    StopProzess("B");
    EXPECT_FALSE(FileExists(dir_.File("debugfile.prozessinfo.2")));
    EXPECT_TRUE(FileExists(dir_.File("debugfile.prozessinfo.1")));
    StopProzess("whatever"); // pops the innermost name, whatever is passed
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozesse")), "|\r\n");
    EXPECT_EQ(ProzessStack(), "|");

    // The next start deletes what a crashed run left behind.
    StartProzess("C");
    InitDebug();
    EXPECT_FALSE(FileExists(dir_.File("debugfile.prozesse")));
    EXPECT_FALSE(FileExists(dir_.File("debugfile.prozessinfo.1")));
}

TEST_F(DebugModulTest, InfoWithoutDebugFileWritesDepthZero) {
    EnableProzessInfo();
    StartProzess("A");
    WriteProzessInfo("one");
    StopProzess("A");
    WriteProzessInfo("two");
    EXPECT_EQ(ProzessStack(), "|");
    EXPECT_FALSE(FileExists(dir_.File("debugfile.prozesse")));
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozessinfo.0")), "one\r\ntwo\r\n");
}

TEST_F(DebugModulTest, DebugFileWithoutInfoKeepsOnlyTheStack) {
    EnableDebugFile();
    StartProzess("A");
    WriteProzessInfo("nowhere");
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozesse")), "|A|\r\n");
    EXPECT_FALSE(FileExists(dir_.File("debugfile.prozessinfo.1")));
    StopProzess("A");
}

TEST_F(DebugModulTest, NoTimingsBeforeTheWindowNorAfterUnloading) {
    ManualClock clock(0);
    StartProzess("early");
    StopProzess("early");
    EXPECT_EQ(Prozesse().size(), 1u);
    ShowWindow();
    StartProzess("A");
    Unloading = true;
    clock.Advance(7);
    StopProzess("A");
    EXPECT_EQ(Prozesse()[1].Anzahl, 0);
    EXPECT_EQ(Prozesse()[1].Tag, "0|");
    Unloading = false;
}
