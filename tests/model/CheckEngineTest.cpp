// Checks in the background: several at once, results merged as they arrive on
// the watch list's thread, and every conflict with what the user does meanwhile
// settled without loss. The fault server delays or holds a URL by its path.
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "model/UrlFileList.h"

#include "base/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "ftp/ServerMemory.h"
#include "model/DataFileFormat.h"
#include "model/HeadlessCommands.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

using namespace ornbrook;
using namespace std::chrono_literals;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::TempProgramDir;
using Session = FaultFtpServer::Session;

namespace {

// A server whose CWD answers after the delay its path is given, or, for
// "/held/", only once released (or when the client goes away, which it notes).
class PacedServer {
public:
    explicit PacedServer(std::map<std::string, std::chrono::milliseconds> delays,
                         std::vector<std::string> names = {"f"})
        : delays_(std::move(delays)),
          server_({{"CWD",
                    [this](Session& s, const std::string& path) {
                        const int now = ++inCwd_;
                        int seen = mostInCwd_;
                        while (now > seen && !mostInCwd_.compare_exchange_weak(seen, now))
                            ;
                        if (path == "/held/") {
                            ++held_;
                            while (!released_ && !s.ClientLeft(5))
                                ;
                            if (!released_)
                                ++leftEarly_;
                        } else if (const auto it = delays_.find(path); it != delays_.end()) {
                            std::this_thread::sleep_for(it->second);
                        }
                        --inCwd_;
                        s.Reply("250 ok");
                    }}},
                  std::move(names)) {}
    ~PacedServer() { released_ = true; }

    std::string Url(const std::string& path) const { return server_.Url(path); }
    void Release() { released_ = true; }
    int MostAtOnce() const { return mostInCwd_; }
    int Held() const { return held_; }
    int LeftEarly() const { return leftEarly_; }
    FaultFtpServer& Server() { return server_; }

private:
    std::map<std::string, std::chrono::milliseconds> delays_;
    std::atomic<int> inCwd_{0}, mostInCwd_{0}, held_{0}, leftEarly_{0};
    std::atomic<bool> released_{false};
    FaultFtpServer server_;
};

// Runs the watch list's deliveries until cond holds; false after a generous while.
bool DeliverUntil(MainInterface& watchList, const std::function<bool()>& cond) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
        watchList.DeliverCheckResults();
    }
    return true;
}

// What another thread (the fault server's) does in its own time.
bool Eventually(const std::function<bool()>& cond) {
    for (int waited = 0; !cond(); waited += 5) {
        if (waited > 10000)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class CheckEngine : public testing::Test {
protected:
    void SetUp() override { ForgetServers(); }
    void TearDown() override { ForgetServers(); }

    // Records the watch list's events as "begin X", "change", "end X".
    void Record(MainInterface& watchList) {
        subscriptions_ += watchList.CheckBegins.Connect(
            [this](const UrlFileList& list) { events.push_back("begin " + Path(list)); });
        subscriptions_ +=
            watchList.Change.Connect([this](const ListChange&) { events.push_back("change"); });
        subscriptions_ += watchList.CheckEnded.Connect(
            [this](const UrlFileList& list) { events.push_back("end " + Path(list)); });
    }
    static std::string Path(const UrlFileList& list) {
        return list.URL().substr(list.URL().rfind('/', list.URL().size() - 2) + 1);
    }
    std::vector<std::string> Ends() const {
        std::vector<std::string> ends;
        for (const auto& e : events)
            if (e.rfind("end ", 0) == 0)
                ends.push_back(e.substr(4));
        return ends;
    }

    TempProgramDir dir;
    std::vector<std::string> events;
    Subscriptions subscriptions_;
};

TEST_F(CheckEngine, ResultsArriveInAnyOrderAndOutputKeepsListOrder) {
    PacedServer server({{"/a/", 400ms}, {"/b/", 0ms}, {"/c/", 200ms}});
    {
        MainInterface watchList;
        Record(watchList);
        for (const char* path : {"/a/", "/b/", "/c/"})
            watchList.AddURL(server.Url(path));
        watchList.WaitForChecks();
        EXPECT_EQ(Ends(), (std::vector<std::string>{"b/", "c/", "a/"}));
        for (std::int32_t i = 1; i <= 3; ++i)
            EXPECT_EQ(watchList.GetURL(i)->GetFilesCount(), 1);
        EXPECT_GE(server.MostAtOnce(), 2);
    }
    // The command line uses the same engine and prints in list order.
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless({"--check"}, out, err), 0);
    const std::string text = out.str();
    const auto at = [&](const char* path) { return text.find(server.Url(path)); };
    EXPECT_LT(at("/a/"), at("/b/"));
    EXPECT_LT(at("/b/"), at("/c/"));
}

TEST_F(CheckEngine, OneAtOnceFollowsTheListInTheDesignSequence) {
    PacedServer server({{"/a/", 200ms}, {"/b/", 0ms}, {"/c/", 100ms}});
    std::string file;
    for (const char* path : {"/a/", "/b/", "/c/"})
        AppendFrame(file, server.Url(path), "", {FileEntry{}});
    test::WriteBytes(MainInterface::DataFileName(), file);
    MainInterface watchList;
    watchList.SetChecksAtOnce(1);
    Record(watchList);
    watchList.CheckFiles();
    watchList.WaitForChecks();
    std::vector<std::string> expected;
    for (const char* path : {"a/", "b/", "c/"})
        expected.insert(expected.end(),
                        {std::string("begin ") + path, "change", std::string("end ") + path});
    EXPECT_EQ(events, expected);
    EXPECT_EQ(server.MostAtOnce(), 1);
}

TEST_F(CheckEngine, AtMostTwoAtOnceAgainstOneServer) {
    PacedServer one({{"/1/", 150ms}, {"/2/", 150ms}, {"/3/", 150ms}, {"/4/", 150ms}});
    PacedServer two({{"/1/", 150ms}, {"/2/", 150ms}});
    MainInterface watchList;
    for (const char* path : {"/1/", "/2/", "/3/", "/4/"})
        watchList.AddURL(one.Url(path));
    for (const char* path : {"/1/", "/2/"})
        watchList.AddURL(two.Url(path));
    watchList.WaitForChecks();
    EXPECT_EQ(one.MostAtOnce(), 2);
    EXPECT_EQ(two.MostAtOnce(), 2);
}

TEST_F(CheckEngine, DeletingOrEditingAURLStopsItsCheckAtOnce) {
    PacedServer server({});
    MainInterface watchList;
    Record(watchList);
    const std::string held = server.Url("/held/");
    watchList.AddURL(held);
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return server.Held() == 1; }));
    watchList.RemoveURL(held);
    // The server sees the connection go long before it would have answered.
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return server.LeftEarly() == 1; }));
    EXPECT_EQ(watchList.CheckProgressText(), "");

    // Edited during its check: the old check is dropped, the new URL checked.
    watchList.AddURL(held);
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return server.Held() == 2; }));
    const auto list = watchList.GetURL(1);
    list->SetURL(server.Url("/quick/"));
    list->CheckFiles();
    watchList.WaitForChecks();
    EXPECT_TRUE(Eventually([&] { return server.LeftEarly() == 2; }));
    EXPECT_EQ(Ends(), std::vector<std::string>{"quick/"});
    EXPECT_EQ(list->GetFilesCount(), 1);
}

TEST_F(CheckEngine, ARefreshDuringTheCheckIsKeptByItsResult) {
    std::atomic<bool> second = false;
    std::atomic<bool> release = false;
    std::atomic<bool> waiting = false;
    FaultFtpServer server({{"CWD",
                            [&](Session& s, const std::string&) {
                                if (second) {
                                    waiting = true;
                                    while (!release)
                                        std::this_thread::sleep_for(2ms);
                                }
                                s.Reply("250 ok");
                            }},
                           {"NLST", [&](Session& s, const std::string&) {
                                s.ServeListing(second ? std::vector<std::string>{"a", "c"}
                                                      : std::vector<std::string>{"a", "b"});
                            }}});
    MainInterface watchList;
    const auto list = watchList.GetURL(watchList.AddURL(server.Url("/")));
    watchList.WaitForChecks();
    second = true;
    list->CheckFiles();
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return waiting.load(); }));
    watchList.Refresh();
    release = true;
    watchList.WaitForChecks();
    std::vector<std::pair<std::string, std::int32_t>> files;
    for (std::int32_t i = 1; i <= list->GetFilesCount(); ++i)
        files.emplace_back(list->GetFileName(i), list->GetFileState(i));
    EXPECT_EQ(files, (std::vector<std::pair<std::string, std::int32_t>>{
                         {"a", FileStateOld}, {"b", FileStateGone}, {"c", FileStateNew}}));
}

TEST_F(CheckEngine, ATickStartsOnlyURLsNotBeingChecked) {
    PacedServer server({});
    MainInterface watchList;
    Record(watchList);
    watchList.AddURL(server.Url("/held/"));
    watchList.AddURL(server.Url("/quick/"));
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return Ends().size() == 1; }));
    watchList.CheckFiles();
    ASSERT_TRUE(DeliverUntil(watchList, [&] { return Ends().size() == 2; }));
    EXPECT_EQ(server.Held(), 1);
    EXPECT_TRUE(watchList.GetURL(1)->IsChecking());
    EXPECT_EQ(watchList.CheckProgressText(), "checking 3 of 3");
    server.Release();
    watchList.WaitForChecks();
    EXPECT_EQ(Ends(), (std::vector<std::string>{"quick/", "quick/", "held/"}));
}

TEST_F(CheckEngine, ClosingStopsChecksAndKeepsWhatFinished) {
    PacedServer server({});
    {
        CreateMainInterface();
        MainInterface& watchList = *TheMainInterface;
        Record(watchList);
        watchList.AddURL(server.Url("/held/"));
        watchList.AddURL(server.Url("/quick/"));
        ASSERT_TRUE(
            DeliverUntil(watchList, [&] { return Ends().size() == 1 && server.Held() == 1; }));
        // The window closes: what finished is saved, the watch list cancelled and gone.
        DestroyMainInterface();
    }
    // The server sees the connection go long before it would have answered.
    EXPECT_TRUE(Eventually([&] { return server.LeftEarly() == 1; }));
    MainInterface reloaded;
    ASSERT_EQ(reloaded.GetURLsCount(), 2);
    EXPECT_EQ(reloaded.GetURL(1)->GetFilesCount(), 0);
    EXPECT_EQ(reloaded.GetURL(2)->GetFilesCount(), 1);
}

TEST_F(CheckEngine, URLsOfOneServerShareALoginWhileItLives) {
    std::atomic<bool> dropped = false;
    FaultFtpServer server({{"NLST",
                            [&](Session& s, const std::string&) {
                                s.ServeNames();
                                // The server's idle time runs out after the first listing.
                                if (!dropped && s.Count("NLST") == 2) {
                                    dropped = true;
                                    s.CloseControl();
                                }
                            }}},
                          {"f"});
    const std::string other = "ftp://u:p@127.0.0.1:" + std::to_string(server.Port()) + "/c/";
    std::string file;
    for (const std::string& url :
         {server.Url("/a/"), server.Url("/b/"), server.Url("/d/"), other, server.Url("/e/")})
        AppendFrame(file, url, "", {FileEntry{}});
    test::WriteBytes(MainInterface::DataFileName(), file);
    MainInterface watchList;
    watchList.SetChecksAtOnce(1);
    watchList.CheckFiles();
    watchList.WaitForChecks();
    for (std::int32_t i = 1; i <= 5; ++i)
        EXPECT_EQ(watchList.GetURL(i)->GetFilesCount(), 1) << i;
    const auto transcript = server.Transcript();
    // a and b share a login; d finds it dropped and logs in afresh; c has a user
    // of its own, and e takes the login d left while c ran.
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER anonymous"), 2);
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER u"), 1);
    EXPECT_EQ(server.Connections(), 3);

    // With the default limits (4 at once, 2 per server), six URLs of one server
    // and login need two logins, whichever workers take their checks.
    FaultFtpServer slow({{"NLST",
                          [](Session& s, const std::string&) {
                              std::this_thread::sleep_for(20ms);
                              s.ServeNames();
                          }}},
                        {"f"});
    file.clear();
    for (const char* path : {"/1/", "/2/", "/3/", "/4/", "/5/", "/6/"})
        AppendFrame(file, slow.Url(path), "", {FileEntry{}});
    test::WriteBytes(MainInterface::DataFileName(), file);
    MainInterface six;
    for (int run = 0; run < 3; ++run) {
        six.CheckFiles();
        six.WaitForChecks();
    }
    const auto logins = slow.Transcript();
    EXPECT_LE(std::count(logins.begin(), logins.end(), "USER anonymous"), 2);
    EXPECT_EQ(std::count(logins.begin(), logins.end(), "NLST"), 18);
}

// A directory that may be listed but not entered: whichever login takes it, a
// fresh one or one kept from the check before, it is entered the same way and
// fails the same way.
TEST_F(CheckEngine, AKeptLoginChangesDirectoryAsAFreshOneDoes) {
    FaultFtpServer server(
        {{"FEAT",
          [](Session& s, const std::string&) { s.Reply("211-x\r\n MLST type*;\r\n211 end"); }},
         {"CWD",
          [](Session& s, const std::string& path) {
              s.Reply(path == "/locked/" ? "550 Permission denied." : "250 ok");
          }},
         {"MLSD", [](Session& s, const std::string&) { s.ServeListing({"type=file; f"}); }}});
    const std::string locked = "could not change dir: 550 Permission denied.";
    for (const auto& order : {std::vector<std::string>{"/a/", "/locked/", "/b/"},
                              std::vector<std::string>{"/locked/", "/a/"}}) {
        std::string file;
        for (const std::string& path : order)
            AppendFrame(file, server.Url(path), "", {FileEntry{}});
        test::WriteBytes(MainInterface::DataFileName(), file);
        MainInterface watchList;
        watchList.SetChecksAtOnce(1);
        watchList.CheckFiles();
        watchList.WaitForChecks();
        for (std::size_t i = 0; i < order.size(); ++i) {
            const auto list = watchList.GetURL(static_cast<std::int32_t>(i + 1));
            SCOPED_TRACE(order[i]);
            EXPECT_EQ(list->GetErrorMsg(), order[i] == "/locked/" ? locked : "");
            EXPECT_EQ(list->GetFilesCount(), order[i] == "/locked/" ? 0 : 1);
        }
    }
    const auto transcript = server.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "CWD /locked/"), 2);
    // Listings are of the current directory, never by path.
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "MLSD"), 3);
}

// Shut-down begins while a check waits on its server (the window closes): the
// worker that counts its objects meanwhile sees it, and counts stand still.
// Nothing passes from this thread to the worker after Unloading is set (the
// server answers in its own time), so ThreadSanitizer sees the two meet.
TEST_F(CheckEngine, ShutDownWhileACheckRunsFreezesTheCounts) {
    PacedServer server({{"/slow/", 200ms}});
    DebugActive = true;
    Unloading = false;
    InitDebug();
    ShowDebugForm();
    {
        MainInterface watchList;
        watchList.AddURL(server.Url("/slow/"));
        ASSERT_TRUE(Eventually([&] { return server.MostAtOnce() == 1; }));
        EXPECT_EQ(LiveCount("CheckJob"), 1);
        Unloading = true;
        ASSERT_TRUE(
            DeliverUntil(watchList, [&] { return !watchList.GetURL(1)->IsCheckPending(); }));
        EXPECT_EQ(LiveCount("CheckJob"), 1);
    }
    Unloading = false;
    InitDebug();
    DebugActive = false;
}

TEST_F(CheckEngine, EachCheckIsTimedOnItsOwn) {
    PacedServer server({{"/a/", 100ms}, {"/b/", 100ms}, {"/c/", 100ms}});
    DebugActive = true;
    Unloading = false;
    InitDebug();
    ShowDebugForm();
    EnableDebugFile();
    {
        MainInterface watchList;
        for (const char* path : {"/a/", "/b/", "/c/"})
            watchList.AddURL(server.Url(path));
        watchList.WaitForChecks();
    }
    std::int64_t runs = 0;
    for (const ProzessInfo& p : Prozesse())
        if (p.Name == "UrlFileList_CheckFiles")
            runs = p.Anzahl;
    EXPECT_EQ(runs, 3);
    // Overlapping checks leave the nesting of timed processes alone.
    EXPECT_EQ(ProzessStack(), "|");
    InitDebug();
    DebugActive = false;
}

} // namespace
