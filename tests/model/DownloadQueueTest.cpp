// The watch list's downloads: recorded in the store, not fetched twice, and a
// failed one pending until a later check of its URL gets it.
#include "model/DownloadQueue.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"

#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

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
        watchList.Downloads().Download(list->URL(), EntriesOf(*list), folder);
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

TEST_F(Downloads, AFailedOneStaysPendingThroughRefreshUntilACheckGetsIt) {
    std::atomic<int> retrievals{0};
    FaultFtpServer server(
        {{"RETR",
          [&](FaultFtpServer::Session& s, const std::string&) {
              if (++retrievals == 1) {
                  s.Reply("550 not now");
                  return;
              }
              s.Reply("150 here");
              s.OpenData();
              s.SendData("the content");
              s.CloseData();
              s.Reply("226 done");
          }}},
        {"late.txt"});
    MainInterface watchList;
    Listen(watchList);
    watchList.AddURL(server.Url());
    watchList.WaitForChecks();
    const std::string url = watchList.GetURL(1)->URL();
    watchList.Downloads().Download(url, EntriesOf(*watchList.GetURL(1)), dir.File("in"));
    watchList.WaitForChecks();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].What, Stage::Failed);
    EXPECT_EQ(ends[0].Message, "could not download: 550 not now");

    watchList.Refresh();
    ASSERT_EQ(watchList.Downloads().Pending(url).size(), 1u);
    watchList.CheckFiles();
    watchList.WaitForChecks();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1].What, Stage::Saved) << ends[1].Message;
    EXPECT_EQ(ReadAll(dir.File("in/late.txt")), "the content");
    EXPECT_TRUE(watchList.Downloads().Pending(url).empty());
}

} // namespace
