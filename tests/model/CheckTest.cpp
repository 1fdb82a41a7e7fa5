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
    FileList files;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
        files.emplace_back(list.GetFileName(i), list.GetFileState(i));
    return files;
}

} // namespace

TEST(Check, LifeOfAWatchedDirectory) {
    PyFtpServer server;
    TempProgramDir programDir;
    for (const char* name : {"w/a.txt", "w/b.txt", "w/c.txt"})
        server.AddFile(name);
    const std::string url = server.Url("/w/");
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

    EXPECT_EQ(watchList.AddURL(url), 1);
    const auto list = watchList.GetURL(1);
    EXPECT_EQ(changes, 2); // once from the merge, once at the end of the check
    EXPECT_EQ(begins, 1);
    EXPECT_FALSE(checkingSeenByChange);
    EXPECT_EQ(list->CountState(FileStateNew), 3);
    EXPECT_TRUE(list->IsChanged());
    // Adding it again checks it and writes nothing.
    std::filesystem::remove(MainInterface::DataFileName());
    EXPECT_EQ(watchList.AddURL(url), 1);
    EXPECT_FALSE(FileExists(MainInterface::DataFileName()));

    watchList.Refresh();
    EXPECT_FALSE(list->IsChanged());
    server.Remove("w/b.txt");
    server.AddFile("w/d.txt");
    watchList.CheckFiles();
    auto files = Files(*list);
    std::sort(files.begin(), files.begin() + 3); // the server's order is its own
    EXPECT_EQ(files, (FileList{{"a.txt", 0}, {"b.txt", 2}, {"c.txt", 0}, {"d.txt", 1}}));

    // A gone entry that comes back stays gone until acknowledged.
    server.AddFile("w/b.txt");
    watchList.CheckFiles();
    EXPECT_EQ(list->GetFileState(list->GetFilesCount()), FileStateNew);
    EXPECT_EQ(list->CountState(FileStateGone), 1);

    // A failed check keeps the entries and saves the error; the next success clears it.
    files = Files(*list);
    list->SetURL(server.Url("/no-such-dir/"));
    list->CheckFiles();
    EXPECT_EQ(list->GetErrorMsg(), "could not change dir");
    EXPECT_EQ(Files(*list), files);
    EXPECT_NE(ReadBytes(MainInterface::DataFileName()).find("could not change dir"),
              std::string::npos);
    list->SetURL(url);
    list->CheckFiles();
    EXPECT_FALSE(list->IsError());
    EXPECT_EQ(ReadBytes(MainInterface::DataFileName()).find("could not"), std::string::npos);

    // What is on disk loads back the same.
    MainInterface reloaded;
    ASSERT_EQ(reloaded.GetURLsCount(), 1);
    EXPECT_EQ(Files(*reloaded.GetURL(1)), Files(*list));

    // An empty listing is believed: everything goes.
    for (const char* name : {"w/a.txt", "w/b.txt", "w/c.txt", "w/d.txt"})
        server.Remove(name);
    watchList.CheckFiles();
    EXPECT_EQ(list->CountState(FileStateGone), list->GetFilesCount());
    // Letter case makes another URL.
    std::string upper = url;
    upper.replace(0, 3, "FTP");
    EXPECT_EQ(watchList.AddURL(upper), 2);
    EXPECT_FALSE(watchList.GetURL(2)->IsError());
}

TEST(Check, AListingCutHalfWayChangesNothing) {
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
