// The watch list's downloads: recorded in the store, not fetched twice, and a
// failed one pending until a later check of its URL gets it.
#include "model/DownloadQueue.h"
#include "model/HeadlessCommands.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "model/UrlSettings.h"

#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace ornbrook;
using namespace std::chrono_literals;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::TempProgramDir;
using Stage = DownloadNews::Stage;

namespace {

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<FileEntry> EntriesOf(const UrlFileList& list) {
    std::vector<FileEntry> entries;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
        entries.push_back(list.GetEntry(i));
    return entries;
}

class Downloads : public testing::Test {
protected:
    void SetUp() override { ForgetServers(); }
    void TearDown() override { ForgetServers(); }

    void Listen(MainInterface& watchList) {
        subscriptions_ += watchList.Downloads().News.Connect([this](const DownloadNews& news) {
            if (news.What != Stage::Progress && news.What != Stage::Started)
                ends.push_back({news.What, news.Name, news.SavedAs, news.Message});
        });
    }

    struct End {
        Stage What;
        std::string Name, SavedAs, Message;
    };
    TempProgramDir dir;
    std::vector<End> ends;
    Subscriptions subscriptions_;
};

TEST_F(Downloads, AreRecordedAndNotFetchedAgainInALaterRun) {
    PyFtpServer server;
    server.AddFile("a.txt", "first file");
    server.AddFile("b.bin", std::string(100'000, 'b'));
    server.AddDir("folder");
    const std::string folder = dir.File("saved/here");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ends.clear();
        MainInterface watchList;
        Listen(watchList);
        watchList.AddURL(server.Url());
        watchList.WaitForChecks();
        const auto list = watchList.GetURL(1);
        ASSERT_EQ(list->GetFilesCount(), 3);
        // The folder is passed over; the files go, or are there already.
        watchList.Downloads().Download(list->ParsedURL(), EntriesOf(*list), folder);
        watchList.WaitForChecks();
        ASSERT_EQ(ends.size(), 2u);
        for (const End& end : ends) {
            EXPECT_EQ(end.What, run == 0 ? Stage::Saved : Stage::AlreadyThere) << end.Message;
            EXPECT_EQ(end.SavedAs, folder + "/" + end.Name);
            EXPECT_EQ(ReadAll(end.SavedAs), server.ReadFile(end.Name));
        }
        EXPECT_TRUE(watchList.Downloads().Pending(list->URL()).empty());
    }
}

// A failed download stays pending (through Refresh) and a later check gets it;
// one the server sent more of than it listed stays failed, with its reason,
// until the file is listed anew.
TEST_F(Downloads, AFailedOneStaysPendingUntilACheckGetsItUnlessTheServerSentTooMuch) {
    std::atomic<int> retrievals{0};
    std::atomic<int> listed{11};
    FaultFtpServer server({{"FEAT",
                            [](FaultFtpServer::Session& s, const std::string&) {
                                s.Reply("211-Features:\r\n MLST type*;size*;\r\n211 End");
                            }},
                           {"MLSD",
                            [&](FaultFtpServer::Session& s, const std::string&) {
                                s.ServeListing(
                                    {"type=file;size=" + std::to_string(listed) + "; late.txt"});
                            }},
                           {"RETR", [&](FaultFtpServer::Session& s, const std::string&) {
                                if (++retrievals == 1) {
                                    s.Reply("550 not now");
                                    return;
                                }
                                s.Reply("150 here");
                                s.OpenData();
                                s.SendData("the content");
                                s.CloseData();
                                s.Reply("226 done");
                            }}});
    MainInterface watchList;
    Listen(watchList);
    watchList.AddURL(server.Url());
    watchList.WaitForChecks();
    const std::string url = watchList.GetURL(1)->URL();
    watchList.Downloads().Download(Url(url), EntriesOf(*watchList.GetURL(1)), dir.File("in"));
    watchList.WaitForChecks();
    watchList.Refresh();
    ASSERT_EQ(watchList.Downloads().Pending(url).size(), 1u);
    // listed size, what comes of the check's download
    const std::pair<int, End> checks[] = {
        {5,
         {Stage::Failed, "late.txt", "",
          "could not download: the server sent more than the listed 5 bytes"}},
        {5,
         {Stage::Failed, "late.txt", "",
          "could not download: the server sent more than the listed 5 bytes"}},
        {11, {Stage::Saved, "late.txt", dir.File("in/late.txt"), ""}},
    };
    for (const auto& [size, end] : checks) {
        listed = size;
        watchList.CheckFiles();
        watchList.WaitForChecks();
    }
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends[0].Message, "could not download: 550 not now");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ends[i + 1].What, checks[i].second.What) << i;
        EXPECT_EQ(ends[i + 1].SavedAs, checks[i].second.SavedAs) << i;
        EXPECT_EQ(ends[i + 1].Message, checks[i].second.Message) << i;
    }
    // The second check of the same listing did not ask again.
    EXPECT_EQ(retrievals, 3);
    EXPECT_EQ(ReadAll(dir.File("in/late.txt")), "the content");
    EXPECT_TRUE(watchList.Downloads().Pending(url).empty());
}

} // namespace

namespace {
std::pair<int, std::string> Headless(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunHeadless(args, out, err);
    return {status, out.str() + err.str()};
}
} // namespace

// download= and run= act on what a check reports, from the command line: never
// on a starting point's files, each file fetched once, its program given the
// path and name as single arguments whatever they hold, no shell between.
TEST_F(Downloads, TheSettingsFetchReportedFilesAndHandEachToItsProgram) {
    dir.ReportAtOnce();
    PyFtpServer server;
    server.AddFile("pub/there.txt", "before");
    const std::string url = server.Url("/pub/");
    const std::string folder = dir.File("got");
    const std::string log = dir.File("run.log");
    ASSERT_EQ(Headless({"--add", url}).first, 0);
    const auto set = Headless(
        {"--set", url, "download=" + folder,
         "run=/bin/sh -c 'printf \"%s|%s\\n\" \"$1\" \"$2\" >> \"$0\"' " + log + " {path} {name}"});
    ASSERT_EQ(set.first, 0) << set.second;
    EXPECT_EQ(Headless({"--set", url, "download=", "run=cp {path} /tmp"}).first, 2);

    server.AddFile("pub/new one.txt", "fresh");
    server.AddFile("pub/$(x);y.txt", "odd");
    server.AddFile("pub/back\\slash.txt", "refused by rule, which fails nothing");
    const auto checked = Headless({"--check"});
    EXPECT_EQ(checked.first, 0) << checked.second;
    EXPECT_NE(checked.second.find("saved " + folder + "/new one.txt\n"), std::string::npos)
        << checked.second;
    EXPECT_NE(checked.second.find("not saved back\\\\slash.txt: refused"), std::string::npos);
    EXPECT_EQ(ReadAll(folder + "/new one.txt"), "fresh");
    EXPECT_EQ(ReadAll(folder + "/$(x);y.txt"), "odd");
    EXPECT_FALSE(std::filesystem::exists(folder + "/there.txt"));
    const std::string ran = ReadAll(log);
    EXPECT_NE(ran.find(folder + "/new one.txt|new one.txt\n"), std::string::npos) << ran;
    EXPECT_NE(ran.find(folder + "/$(x);y.txt|$(x);y.txt\n"), std::string::npos) << ran;

    // Acknowledged and checked again: nothing is fetched or run twice.
    Headless({"--refresh"});
    EXPECT_EQ(Headless({"--check"}).second.find("saved"), std::string::npos);
    EXPECT_EQ(ReadAll(log), ran);

    // A program that cannot start, or a download that fails, fails the run.
    Headless({"--set", url, "run=no-such-program-here {name}"});
    server.AddFile("pub/later.txt");
    EXPECT_EQ(Headless({"--check"}),
              std::pair(1, url + "\nok\n+ later.txt\nsaved " + folder +
                               "/later.txt\nprogram failed later.txt: program not found: "
                               "no-such-program-here\n\n"));
    test::WriteBytes(dir.File("file"), "");
    Headless({"--set", url, "download=" + dir.File("file"), "run="});
    server.AddFile("pub/last.txt");
    const auto failed = Headless({"--check"});
    EXPECT_EQ(failed.first, 1);
    EXPECT_NE(failed.second.find("not saved last.txt: "), std::string::npos) << failed.second;
}

// A program that cannot be started stops nothing and is told with its URL.
TEST_F(Downloads, AProgramThatCannotStartIsToldAndStopsNothing) {
    dir.ReportAtOnce();
    PyFtpServer server;
    MainInterface watchList;
    watchList.AddURL(server.Url("/"));
    watchList.WaitForChecks();
    UrlSettings settings;
    ASSERT_TRUE(ApplyAssignments(settings, {"run=no-such-program-here {name}"}));
    watchList.SetURLSettings(1, settings);
    server.AddFile("a.txt");
    watchList.CheckFiles();
    watchList.WaitForChecks();
    EXPECT_EQ(watchList.ProgramProblem(server.Url("/")), "program not found: no-such-program-here");
    EXPECT_EQ(watchList.GetURL(1)->GetErrorMsg(), "");
    EXPECT_EQ(watchList.GetURL(1)->GetFileMark(1), FileMark::New);
}

// download= waits for an upload to finish: an arriving file is fetched only once
// a later check finds it holding still.
TEST_F(Downloads, AnArrivingFileIsFetchedOnlyOnceItHoldsStill) {
    PyFtpServer server;
    MainInterface watchList;
    watchList.SetSettleSeconds(1);
    watchList.AddURL(server.Url("/"));
    watchList.WaitForChecks();
    UrlSettings settings;
    const std::string folder = dir.File("got");
    ASSERT_TRUE(ApplyAssignments(settings, {"download=" + folder}));
    watchList.SetURLSettings(1, settings);
    server.AddFile("upload.bin", "part");
    watchList.CheckFiles();
    watchList.WaitForChecks();
    ASSERT_EQ(watchList.GetURL(1)->GetFileMark(1), FileMark::Arriving);
    EXPECT_FALSE(std::filesystem::exists(folder + "/upload.bin"));
    std::this_thread::sleep_for(1100ms);
    watchList.CheckFiles();
    watchList.WaitForChecks();
    EXPECT_EQ(watchList.GetURL(1)->GetFileMark(1), FileMark::New);
    EXPECT_EQ(ReadAll(folder + "/upload.bin"), "part");
}
