// A URL's own settings: globs, KEY=VALUE assignments, urlsettings.json, the
// command line, and how settings follow their URL; schedules on a test clock.
#include "model/UrlSettings.h"

#include "base/Clock.h"
#include "model/DataFileFormat.h"
#include "model/HeadlessCommands.h"
#include "model/MainInterface.h"
#include "model/NameFilter.h"
#include "model/RetryBackoff.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

std::tuple<int, std::string, std::string> Invoke(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunHeadless(args, out, err);
    return {status, out.str(), err.str()};
}

// Nobody listens on port 1: checks of these URLs fail at once.
const std::string UrlA = "ftp://127.0.0.1:1/a/";
const std::string UrlB = "ftp://127.0.0.1:1/b/";

void WriteWatchList(const TempProgramDir& dir, const std::vector<std::string>& urls) {
    std::string file;
    for (const std::string& url : urls)
        AppendFrame(file, url, "", {FileEntry{}});
    WriteBytes(dir.File("maindata.dat"), file);
}

UrlSettings Parsed(const std::vector<std::string>& assignments) {
    UrlSettings settings;
    EXPECT_TRUE(ApplyAssignments(settings, assignments));
    return settings;
}

} // namespace

// Matches a compiled glob by either walk, counting its steps.
struct ornbrook::test::GlobProbe {
    static std::pair<bool, std::size_t> Run(const Glob& glob, std::string_view path, bool wide) {
        std::size_t steps = 0;
        const bool matched = glob.Run(path, wide, &steps);
        return {matched, steps};
    }
};

// Both walks give the same answers, and no glob takes more steps than the
// path's length times its own, however the stars could be placed.
TEST(UrlSettings, GlobsMatchRelativePathsInLinearSteps) {
    const std::string underscores(10'000, '_'), slashes(10'000, '/');
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "*_";
    // glob, path, nocase, matches
    const std::tuple<std::string, std::string, bool, bool> rows[] = {
        {"*.csv", "prices.csv", false, true},
        {"*.csv", "prices.CSV", false, false},
        {"*.csv", "prices.CSV", true, true},
        {"*.csv", "in/prices.csv", false, false}, // "*" never crosses a folder
        {"*/*.jpg", "2026-12-07/img_0001.jpg", false, true},
        {"*/*.jpg", "img_0001.jpg", false, false},
        {"**/*.jpg", "img_0001.jpg", false, true}, // "**/" may be no folder
        {"**/*.jpg", "a/b/c/img.jpg", false, true},
        {"a/**", "a/b/c", false, true},
        {"a/**/z", "a/z", false, true},
        {"a/**/z", "a/b/c/z", false, true},
        {"a/**/z", "ab/z", false, false},
        {"img_????.jpg", "img_0001.jpg", false, true},
        {"img_????.jpg", "img_001.jpg", false, false},
        {"a?b", "a/b", false, false},
        {"[0-9][0-9]*", "2026-12-07", false, true},
        {"[!.]*", ".hidden", false, false},
        {"[!.]*", "shown", false, true},
        {"[a-c]x", "Bx", true, true},
        {"[a-c]x", "Bx", false, false},
        {"a[/]b", "a/b", false, false}, // not even a set names "/"
        {"[]]", "]", false, true},
        {"[!a-c]", "B", true, false},
        {"\\[ab]", "[ab]", false, true},
        {"\\*.tmp", "*.tmp", false, true},
        {"\\*.tmp", "x.tmp", false, false},
        {"*.tmp", ".tmp", false, true},
        {"", "", false, true},
        {"*", "", false, true},
        {"~*", "~$report.xlsx", false, true},
        {"**/**/x", "x", false, true},
        {"**/**/x", "ax", false, false},
        {"****/x", "a/b/x", false, true},
        // What took a backtracking matcher minutes, or for ever.
        {"*_*_*.csv", underscores, false, false},
        {"*_*_*.csv", underscores + ".csv", false, true},
        {"**/**/**/*x", slashes, false, false},
        {"**a**a**a**b", std::string(10'000, 'a'), false, false},
        {many, underscores, false, true},
    };
    for (const auto& [glob, path, noCase, matches] : rows) {
        const auto compiled = Glob::Compile(glob, noCase);
        ASSERT_TRUE(compiled) << glob;
        for (const bool wide : {false, true}) {
            const auto [matched, steps] = test::GlobProbe::Run(*compiled, path, wide);
            EXPECT_EQ(matched, matches) << glob << " " << path.substr(0, 20) << " " << wide;
            EXPECT_LE(steps, (path.size() + 1) * (glob.size() + 2)) << glob << " " << wide;
        }
    }

    UrlSettings csv = Parsed({"include=*.csv", "include=*.CSV", "exclude=~*"});
    EXPECT_TRUE(csv.Counts("a.csv"));
    EXPECT_TRUE(csv.Counts("a.CSV"));
    EXPECT_FALSE(csv.Counts("~a.csv"));
    EXPECT_FALSE(csv.Counts("a.tmp"));
    EXPECT_TRUE(UrlSettings{}.Counts("anything/at all"));

    // As people write globs: without "/" the last part at any depth, with "/"
    // the whole path; include judges files only, exclude folders too.
    const struct {
        std::vector<std::string> assignments;
        const char* path;
        bool folder, counts;
    } judged[] = {
        {{"exclude=*.tmp"}, "2026-12-06/img_0003.jpg.tmp", false, false},
        {{"exclude=*.tmp"}, "a/b/c.tmp", false, false},
        {{"exclude=*.tmp"}, "a.tmp/b.jpg", false, false},
        {{"exclude=*/*.tmp"}, "a/b/c.tmp", false, true},
        {{"include=*.jpg"}, "2026-12-06/x.jpg", false, true},
        {{"include=*.jpg"}, "2026-12-06", true, true},
        {{"include=*.jpg"}, "2026-12-06/x.txt", false, false},
        {{"include=*/*.jpg"}, "x.jpg", false, false},
        {{"exclude=private"}, "private", true, false},
        {{"exclude=private"}, "a/private/b/c.jpg", false, false},
        {{"exclude=a/private"}, "b/private/c", false, true},
        {{"include=*.jpg", "exclude=old"}, "old/x.jpg", false, false},
    };
    for (const auto& [assignments, path, folder, counts] : judged)
        EXPECT_EQ(Parsed(assignments).Counts(path, folder), counts) << path;
}

TEST(UrlSettings, AssignmentsAreAllOrNothingAndTheFileKeepsThem) {
    UrlSettings settings = Parsed({"depth=2", "include=*.csv", "include=*.txt", "interval=600"});
    // Refused: nothing changes, the reason names the key.
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"depth=11"}, "bad value for depth: 11"},
        {{"depth=-1"}, "bad value for depth"},
        {{"depth=1x"}, "bad value for depth"},
        {{"interval=9999999999999"}, "bad value for interval"},
        {{"nocase=yes"}, "bad value for nocase"},
        {{"paused=2"}, "bad value for paused"},
        {{"include=a\tb"}, "bad value for include"},
        {{"include=[abc"}, "bad value for include: [abc (the [ at character 1 is never closed)"},
        {{"exclude=a\\"}, "bad value for exclude: a\\ (the glob ends in a backslash"},
        {{"colour=red"}, "unknown key colour"},
        {{"download=photos"}, "bad value for download"},
        {{"run=mv 'a"}, "bad value for run"},
        {{"run={path}"}, "bad value for run"},
        {{"run=cp {path} /tmp"}, "run uses {path}, which needs download="},
        {{"mode=pasv"}, "bad value for mode: pasv (active, passive or auto)"},
        {{"depth"}, "not KEY=VALUE"},
        {{"depth=1", "depth=2"}, "depth given twice"},
        {{"paused=1", "exclude=*.tmp", "depth=x"}, "bad value for depth"},
    };
    for (const auto& [assignments, reason] : refused) {
        UrlSettings tried = settings;
        const auto taken = ApplyAssignments(tried, assignments);
        ASSERT_FALSE(taken) << assignments[0];
        EXPECT_EQ(taken.error().Message.rfind(reason, 0), 0u) << taken.error().Message;
        EXPECT_EQ(tried, settings);
    }
    // A key given replaces its whole value; "KEY=" is its default.
    UrlSettings changed = settings;
    EXPECT_TRUE(ApplyAssignments(changed, {"include=*.xml", "interval=", "paused=1"}));
    EXPECT_EQ(changed.Include, std::vector<std::string>{"*.xml"});
    EXPECT_EQ(changed.Interval, 0);
    EXPECT_EQ(changed.Depth, 2);
    EXPECT_TRUE(ApplyAssignments(changed, {"include=", "depth=", "paused="}));
    EXPECT_TRUE(changed.IsDefault());

    // The file round trip, odd characters in URLs and globs included; URLs by
    // their names, passwords nowhere.
    const UrlNames names("key");
    SettingsByUrl all{{names.Of("ftp://a/\"q\"\\"), settings},
                      {names.Of("ftp://b:pw@h/"),
                       Parsed({"exclude=[!a]\\*", "nocase=1", "paused=1", "mode=passive"})},
                      {names.Of("ftp://c/"), UrlSettings{}}};
    const std::string text = UrlSettingsText(all);
    EXPECT_NE(text.find("\"version\": 2"), std::string::npos);
    EXPECT_EQ(text.find("pw"), std::string::npos) << text;
    SettingsFile back = ParseUrlSettings(text, names);
    EXPECT_EQ(back.Problems, "");
    EXPECT_EQ(back.OldEntries, 0u);
    all.erase(names.Of("ftp://c/")); // defaults are not written
    EXPECT_EQ(back.Settings, all);

    // Damage: what can be read is taken, the rest is noted.
    const std::pair<std::string, std::size_t> damaged[] = {
        {text.substr(0, text.find("ftp://b:") + 60), 1},
        {R"({"version": 1, "urls": [{"url": "ftp://x/", "depth": 99, "paused": true}]})", 1},
        {R"({"version": 1, "urls": [{"url": "ftp://x/", "include": "*.csv"}]})", 1},
        {R"({"version": 1, "urls": [{"depth": 1}, {"url": "ftp://y/", "colour": 3}]})", 1},
        {R"({"version": 1, "urls": [{"url": "ftp://x/", "exclude": ["*.tmp", "[abc"]}]})", 1},
        {"\x00\xff garbage", 0},
        {"", 0},
    };
    for (const auto& [bytes, urls] : damaged) {
        const SettingsFile read = ParseUrlSettings(bytes, names);
        EXPECT_EQ(read.Settings.size(), urls) << bytes;
        EXPECT_NE(read.Problems, "") << bytes;
    }
    // The glob that cannot be taken is left out alone.
    EXPECT_EQ(ParseUrlSettings(damaged[4].first, names).Settings.at(names.Of("ftp://x/")).Exclude,
              std::vector<std::string>{"*.tmp"});
}

TEST(UrlSettings, SetAndSettingsOnTheCommandLine) {
    TempProgramDir dir;
    WriteWatchList(dir, {UrlA, UrlB});
    const std::string data = ReadBytes(dir.File("maindata.dat"));
    // Refused before anything is read or written.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--set", UrlA},
                                               {"--set", UrlA, "depth=12"},
                                               {"--set", UrlA, "paused=1", "speed=3"},
                                               {"--set", UrlA, "include=[abc"},
                                               {"--set", "nowhere", "depth=x"},
                                               {"--settings"},
                                               {"--settings", UrlA, "depth=1"}}) {
        EXPECT_EQ(std::get<0>(Invoke(args)), 2) << args.back();
        EXPECT_FALSE(std::filesystem::exists(dir.File("urlsettings.json")));
    }
    EXPECT_EQ(std::get<0>(Invoke({"--set", "ftp://127.0.0.1:1/c/", "depth=1"})), 1);
    EXPECT_EQ(std::get<0>(Invoke({"--settings", "ftp://127.0.0.1:1/c/"})), 1);

    const auto [status, out, err] = Invoke({"--set", "2", "depth=3", "include=*/*.jpg",
                                            "include=*/*.JPG", "interval=86400", "mode=active"});
    EXPECT_EQ(status, 0) << err;
    const std::string expected = "depth=3\ninclude=*/*.jpg\ninclude=*/*.JPG\nnocase=0\n"
                                 "interval=86400\npaused=0\ndownload=\nrun=\nmode=active\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(Invoke({"--settings", UrlB}), std::make_tuple(0, expected, std::string()));
    // A refused value leaves the URL's settings as they were.
    EXPECT_EQ(std::get<0>(Invoke({"--set", UrlB, "include=*.csv", "paused=maybe"})), 2);
    EXPECT_EQ(std::get<1>(Invoke({"--settings", UrlB})), expected);
    EXPECT_EQ(std::get<1>(Invoke({"--settings", UrlA})),
              "depth=0\nnocase=0\ninterval=0\npaused=0\ndownload=\nrun=\nmode=auto\n");

    // Paused: --check leaves it out and says so.
    EXPECT_EQ(std::get<0>(Invoke({"--set", UrlA, "paused=1"})), 0);
    const auto [checked, printed, complaints] = Invoke({"--check"});
    EXPECT_EQ(printed.rfind(UrlA + "\npaused: not checked\n\n" + UrlB + "\ncould not connect", 0),
              0u)
        << printed;
    // Back to the defaults: the file goes.
    Invoke({"--set", UrlA, "paused="});
    Invoke({"--set", UrlB, "depth=", "include=", "interval=", "mode="});
    EXPECT_FALSE(std::filesystem::exists(dir.File("urlsettings.json")));
}

TEST(UrlSettings, SettingsFollowTheirURLAndGoWithIt) {
    TempProgramDir dir;
    WriteWatchList(dir, {UrlA, UrlB});
    const UrlSettings mine = Parsed({"depth=1", "exclude=*.tmp"});
    const std::string edited = "ftp://127.0.0.1:1/a2/";
    {
        MainInterface watchList;
        watchList.SetURLSettings(1, mine);
        watchList.ChangeURL(1, edited);
        watchList.WaitForChecks();
        EXPECT_EQ(watchList.GetURLSettings(1), mine);
        // Undo of a removal brings them back.
        const std::string record = watchList.GetURL(1)->GetDataToSave();
        watchList.RemoveURL(edited);
        EXPECT_EQ(watchList.RestoreURL(1, record), 1);
        EXPECT_EQ(watchList.GetURLSettings(1), mine);
        EXPECT_TRUE(watchList.GetURLSettings(2).IsDefault());
    }
    {
        MainInterface restarted;
        EXPECT_EQ(restarted.GetURL(1)->URL(), edited);
        EXPECT_EQ(restarted.GetURLSettings(1), mine);
        restarted.RemoveURL(edited);
    }
    // Deleted for good: the same URL added anew starts without them.
    MainInterface again;
    const std::int32_t index = again.AddURL(edited);
    again.WaitForChecks();
    EXPECT_TRUE(again.GetURLSettings(index).IsDefault());
    EXPECT_FALSE(std::filesystem::exists(dir.File("urlsettings.json")));
}

TEST(UrlSettings, ADamagedFileLoadsWhatItCanAndIsToldOfOnce) {
    TempProgramDir dir;
    WriteWatchList(dir, {UrlA, UrlB});
    WriteBytes(dir.File("urlsettings.json"), "{\"version\": 1, \"urls\": [{\"url\": \"" + UrlA +
                                                 "\", \"depth\": 2}, {\"url\": \"" + UrlB +
                                                 "\", \"depth\": 4");
    const auto [status, out, err] = Invoke({"--settings", UrlA});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("depth=2\n", 0), 0u);
    EXPECT_EQ(err.rfind("ornbrook: urlsettings.json is damaged", 0), 0u) << err;
    EXPECT_NE(err.find("kept as " + dir.File("urlsettings.json.damaged-")), std::string::npos);
    // Told once: what was read was written back.
    EXPECT_EQ(Invoke({"--settings", UrlA}), std::make_tuple(0, out, std::string()));
}

TEST(UrlSettings, URLsWithTheirOwnIntervalAreCheckedWhenDueAndBackOffWhileFailing) {
    TempProgramDir dir;
    WriteWatchList(dir, {UrlA, UrlB, "ftp://127.0.0.1:1/c/", "ftp://127.0.0.1:1/d/"});
    ManualClock clock(1000);
    MainInterface watchList;
    watchList.SetURLSettings(1, Parsed({"interval=60"}));
    watchList.SetURLSettings(2, Parsed({"interval=3600"}));
    watchList.SetURLSettings(4, Parsed({"paused=1", "interval=60"}));
    // Which URLs a tick starts (1 to 4), given whether the global run is due.
    // Every check fails: nobody listens.
    const auto tick = [&](bool globalRunDue) {
        watchList.CheckDueFiles(globalRunDue);
        std::string started;
        for (std::int32_t i = 1; i <= 4; ++i)
            started += watchList.GetURL(i)->IsCheckPending() ? std::to_string(i) : "";
        watchList.WaitForChecks();
        return started;
    };
    // After each failure the wait doubles: URL 1 (60 s) comes at 60, 180, 420
    // s; URL 3 (the global 301 s) not at the next global run.
    const struct {
        std::uint32_t Advance;
        bool GlobalRunDue;
        std::string Started;
    } ticks[] = {
        {0, false, ""},       {0, true, "3"},      {59'999, false, ""},      {1, false, "1"},
        {30'000, true, ""},   {30'000, false, ""}, {59'999, false, ""},      {1, false, "1"},
        {239'999, false, ""}, {1, false, "1"},     {3'600'000, true, "123"},
    };
    for (const auto& row : ticks) {
        clock.Advance(row.Advance);
        EXPECT_EQ(tick(row.GlobalRunDue), row.Started) << clock.Now();
    }
    EXPECT_TRUE(watchList.NextTry(*watchList.GetURL(1)).has_value());
    EXPECT_FALSE(watchList.NextTry(*watchList.GetURL(4)).has_value());
    // A check asked for by hand starts the interval and the backoff anew
    // (2 periods after it, not 16); paused URLs are checked only when asked.
    clock.Advance(50'000);
    watchList.GetURL(1)->CheckFiles();
    watchList.GetURL(4)->CheckFiles();
    watchList.WaitForChecks();
    clock.Advance(50'000);
    EXPECT_EQ(tick(false), "");
    clock.Advance(70'000);
    EXPECT_EQ(tick(false), "1");
    watchList.CheckFiles(true);
    EXPECT_FALSE(watchList.GetURL(4)->IsCheckPending());
    watchList.WaitForChecks();
}

TEST(UrlSettings, BackoffDoublesToItsCapAndEndsWithASuccess) {
    const struct {
        int Failures;
        std::uint32_t Period;
        bool LoginRefused;
        std::uint32_t Wait;
    } rows[] = {
        {0, 60'000, false, 60'000},     {1, 60'000, false, 120'000},
        {3, 60'000, false, 480'000},    {6, 60'000, false, 3'600'000},
        {99, 60'000, false, 3'600'000}, {10, 60'000, true, 61'440'000},
        {12, 60'000, true, 86'400'000}, {1, 7'200'000, false, 7'200'000},
        {1, 301'000, false, 602'000},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RetryBackoff::Wait(row.Failures, row.Period, row.LoginRefused), row.Wait)
            << row.Failures << " " << row.Period;
    RetryBackoff backoff;
    const auto next = [&] { return backoff.NextTry("u", 60'000); };
    backoff.Ended("u", 1000, true, Error{ErrorKind::Connection, "refused"});
    EXPECT_EQ(next(), 121'000u);
    backoff.Ended("u", 2000, true, Error{ErrorKind::LoginRefused, "530"});
    EXPECT_EQ(next(), 242'000u);
    backoff.Ended("u", 3000, false, Error{ErrorKind::TimedOut, "by hand"});
    EXPECT_EQ(next(), 123'000u);
    // A cut listing is an answer, as a whole one is.
    backoff.Ended("u", 4000, true, Error{ErrorKind::Cut, "cut"});
    EXPECT_EQ(next(), std::nullopt);
    backoff.Ended("u", 5000, true, Error{ErrorKind::Connection, "refused"});
    backoff.Ended("u", 6000, true, std::nullopt);
    EXPECT_EQ(next(), std::nullopt);
}
