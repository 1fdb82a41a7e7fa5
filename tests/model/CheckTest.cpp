// Checks of watched URLs against a real FTP server (pyftpdlib), and the faults
// that only a scripted server makes.
#include "model/MainInterface.h"
#include "model/UrlFileList.h"

#include "app/FileIO_Code.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

using FileList = std::vector<std::pair<std::string, std::int32_t>>;

// The names and states of a URL's entries, in slot order.
FileList Files(const UrlFileList& list) {
    std::vector<std::pair<std::string, std::int32_t>> files;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
        files.emplace_back(list.GetFileName(i), list.GetFileState(i));
    return files;
}

class CheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new PyFtpServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { dir_ = server_->Url("/watch" + std::to_string(++counter_) + "/"); }
    std::string Dir(const std::string& name) const {
        return "watch" + std::to_string(counter_) + "/" + name;
    }

    static PyFtpServer* server_;
    static int counter_;
    TempProgramDir programDir_;
    std::string dir_;
};

PyFtpServer* CheckTest::server_ = nullptr;
int CheckTest::counter_ = 0;

} // namespace

TEST_F(CheckTest, LifeOfAWatchedDirectory) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        server_->AddFile(Dir(name));
    MainInterface watchList;
    int changes = 0;
    int begins = 0;
    bool checkingSeenByChange = false;
    watchList.Change.Connect([&] {
        ++changes;
        checkingSeenByChange = checkingSeenByChange || watchList.GetURL(1)->IsChecking();
    });
    watchList.CheckBegins.Connect([&](const UrlFileList& list) {
        ++begins;
        EXPECT_TRUE(list.IsChecking());
    });

    EXPECT_EQ(watchList.AddURL(dir_), 1);
    const auto list = watchList.GetURL(1);
    EXPECT_EQ(changes, 2); // once from the merge, once at the end of the check
    EXPECT_EQ(begins, 1);
    EXPECT_FALSE(checkingSeenByChange);
    EXPECT_FALSE(list->IsError());
    ASSERT_EQ(list->GetFilesCount(), 3);
    for (std::int32_t i = 1; i <= 3; ++i)
        EXPECT_EQ(list->GetFileState(i), FileStateNew);
    EXPECT_TRUE(list->IsChanged());

    watchList.Refresh();
    EXPECT_FALSE(list->IsChanged());

    server_->Remove(Dir("b.txt"));
    server_->AddFile(Dir("d.txt"));
    watchList.CheckFiles();
    auto files = Files(*list);
    std::sort(files.begin(), files.begin() + 3); // the server's order is its own
    EXPECT_EQ(files, (FileList{{"a.txt", 0}, {"b.txt", 2}, {"c.txt", 0}, {"d.txt", 1}}));

    // A gone entry that comes back stays gone until acknowledged.
    server_->AddFile(Dir("b.txt"));
    watchList.CheckFiles();
    EXPECT_EQ(list->GetFileState(list->GetFilesCount()), FileStateNew);
    EXPECT_EQ(list->CountState(FileStateGone), 1);

    // What is on disk loads back the same.
    MainInterface reloaded;
    ASSERT_EQ(reloaded.GetURLsCount(), 1);
    EXPECT_EQ(Files(*reloaded.GetURL(1)), Files(*list));
}

TEST_F(CheckTest, FailedChecksKeepEntriesAndTheNextSuccessClearsTheError) {
    server_->AddFile(Dir("x"));
    MainInterface watchList;
    watchList.AddURL(dir_);
    const auto list = watchList.GetURL(1);
    list->SetURL(server_->Url("/no-such-dir/"));
    list->CheckFiles();
    EXPECT_EQ(list->GetErrorMsg(), "could not change dir");
    EXPECT_EQ(Files(*list), (FileList{{"x", 1}}));
    EXPECT_NE(ReadBytes(MainInterface::DataFileName()).find("could not change dir"),
              std::string::npos);

    list->SetURL(dir_);
    list->CheckFiles();
    EXPECT_FALSE(list->IsError());
    EXPECT_EQ(ReadBytes(MainInterface::DataFileName()).find("could not"), std::string::npos);
}

TEST_F(CheckTest, AddingAKnownUrlChecksAndWritesNothing) {
    MainInterface watchList;
    server_->AddDir(Dir(""));
    EXPECT_EQ(watchList.AddURL(dir_), 1);
    std::filesystem::remove(MainInterface::DataFileName());
    EXPECT_EQ(watchList.AddURL(dir_), 1);
    EXPECT_FALSE(FileExists(MainInterface::DataFileName()));
    // Letter case makes another URL.
    std::string upper = dir_;
    upper.replace(0, 3, "FTP");
    EXPECT_EQ(watchList.AddURL(upper), 2);
    EXPECT_FALSE(watchList.GetURL(2)->IsError());
}

TEST_F(CheckTest, AnEmptyListingIsConfirmedBeforeEverythingGoes) {
    server_->AddFile(Dir("keep"));
    MainInterface watchList;
    watchList.AddURL(dir_);
    server_->Remove(Dir("keep"));
    watchList.CheckFiles();
    EXPECT_EQ(watchList.GetURL(1)->GetFileState(1), FileStateGone);
}

TEST(CheckFaults, AListingCutHalfWayChangesNothing) {
    TempProgramDir programDir;
    bool cut = false;
    FaultFtpServer server({{"NLST", [&](FaultFtpServer::Session& s, const std::string&) {
                                if (!cut) {
                                    s.ServeListing({"one", "two"});
                                    return;
                                }
                                s.Reply("150 Here it comes.");
                                s.OpenData();
                                s.SendData("one\r\n");
                                s.ResetData();
                                s.CloseControl();
                            }}});
    MainInterface watchList;
    watchList.AddURL(server.Url());
    const auto list = watchList.GetURL(1);
    ASSERT_EQ(list->GetFilesCount(), 2);
    cut = true;
    list->CheckFiles();
    EXPECT_EQ(list->GetErrorMsg(), "could not list dir");
    EXPECT_EQ(Files(*list), (FileList{{"one", 1}, {"two", 1}}));
}
