// The main window against real FTP servers: pyftpdlib for listings, the fault
// server for a check that waits on its server.

#include "ui/MainForm.h"

#include "base/FileIO_Code.h"
#include "model/DownloadQueue.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/SaveCount.h"
#include "tests/support/TempProgramDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FilesModel.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace ornbrook;
using test::FaultFtpServer;
using test::Watched;

namespace {

using MainFormFtpTest = test::MainFormFixture;

TEST_F(MainFormFtpTest, AddCheckAcknowledgeAndRenameAgainstAServer) {
    test::PyFtpServer server;
    for (const char* file : {"pub/a.txt", "pub/b.txt", "other/x.txt"})
        server.AddFile(file);
    const auto url = [&](const char* path) { return QString::fromStdString(server.Url(path)); };
    Load();
    Key(&URLs(), Qt::Key_Insert);
    EndEdit(url("/pub/"), Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(URLRows(), QStringList({url("/pub/") + ":b"}));
    EXPECT_EQ(FileRows(), QStringList({"a.txt:b", "b.txt:b"}));

    server.AddFile("pub/c.txt");
    server.Remove("pub/a.txt");
    Menu("mnuRefresh")->trigger(); // acknowledges the changes
    EXPECT_EQ(URLRows(), QStringList({url("/pub/")}));
    Key(&URLs(), Qt::Key_Return);
    ASSERT_TRUE(WaitForChecks());
    // New first, then gone, then old.
    EXPECT_EQ(FileRows(), QStringList({"c.txt:b", "a.txt:g", "b.txt"}));
    EXPECT_EQ(URLRows(), QStringList({url("/pub/") + ":b"}));

    // F2, from either list, to another directory: the same entry, checked, and
    // started afresh: the old directory's files are not shown as gone.
    Key(&Files(), Qt::Key_F2);
    EndEdit(url("/other/"), Qt::Key_Return, true);
    ASSERT_TRUE(WaitForChecks());
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), server.Url("/other/"));
    EXPECT_EQ(FileRows(), QStringList({"x.txt:b"}));
}

// The window never waits for a check: input is handled at once while a slow
// server holds its check, and closing ends the check without waiting for it.
TEST_F(MainFormFtpTest, InputIsHandledWhileAServerIsSlow) {
    using Session = test::FaultFtpServer::Session;
    std::atomic<bool> answer = false;
    std::atomic<bool> leftEarly = false;
    test::FaultFtpServer server({{"CWD",
                                  [&](Session& s, const std::string& path) {
                                      if (path == "/slow/") {
                                          // Held until released, or until the client goes.
                                          while (!answer && !s.ClientLeft(5))
                                              ;
                                          if (!answer)
                                              leftEarly = true;
                                      }
                                      s.Reply("250 directory changed");
                                  }}},
                                {"one.txt"});
    struct AnswerAtEnd {
        std::atomic<bool>& answer;
        ~AnswerAtEnd() { answer = true; }
    } answerAtEnd{answer};

    Load({Watched(server.Url("/slow/")), Watched(server.Url("/quick/")),
          Watched("ftp://127.0.0.1:1/gone/")});
    Key(&URLs(), Qt::Key_Return); // the first URL is selected at start
    ASSERT_TRUE(QTest::qWaitFor([&] { return URLRows().at(0).endsWith(":g"); }));
    EXPECT_EQ(StatusLine()->text(), "checking 1 of 1");

    // While it waits: select, check, delete and refresh, each at once.
    Select(1);
    Key(&URLs(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Watch().GetURL(2)->GetFilesCount() == 1; }));
    EXPECT_EQ(FileRows(), QStringList({"one.txt:b"}));
    Select(2);
    Key(&URLs(), Qt::Key_Delete);
    EXPECT_EQ(Watch().GetURLsCount(), 2);
    Menu("mnuRefresh")->trigger();
    EXPECT_EQ(Watch().GetURL(2)->CountState(FileStateOld), 1);
    EXPECT_TRUE(Watch().GetURL(1)->IsChecking());
    EXPECT_EQ(URLRows().at(0), QString::fromStdString(server.Url("/slow/")) + ":g");

    // Closing does not wait for the slow server: its check is stopped.
    EXPECT_TRUE(form->close());
    EXPECT_EQ(shutDowns, 1);
    form.reset();
    DestroyMainInterface();
    EXPECT_TRUE(QTest::qWaitFor([&] { return leftEarly.load(); }, 4000));
    EXPECT_FALSE(answer);
}

TEST_F(MainFormFtpTest, ACheckRunIsSavedOnceAndOnlyWhenItChangedSomething) {
    test::PyFtpServer server;
    std::vector<UrlRecord> urls;
    for (int i = 0; i < 20; ++i) {
        const std::string folder = "d" + std::to_string(i);
        server.AddFile(folder + "/a.txt");
        urls.push_back(Watched(server.Url("/" + folder + "/")));
    }
    Load(urls);
    // In list order: twenty results arrive one after another.
    Watch().SetChecksAtOnce(1);
    const test::SaveCount count;
    for (const int saves : {1, 1}) {
        Watch().CheckFiles();
        ASSERT_TRUE(WaitForChecks());
        EXPECT_EQ(count.Saves(Watch()), saves);
        EXPECT_FALSE(form->findChild<QTimer*>("SaveTimer")->isActive());
    }
    EXPECT_EQ(Watch().GetURL(20)->CountState(FileStateNew), 1);
    form->close();
    EXPECT_EQ(count.Saves(Watch()), 1);
}

// A run that goes on holds its merges back no longer than the save timer, and
// closing the window writes what is unsaved.
TEST_F(MainFormFtpTest, MergesWaitNoLongerThanTheSaveTimerAndAreSavedAtClose) {
    using Session = test::FaultFtpServer::Session;
    test::FaultFtpServer server({{"CWD",
                                  [&](Session& s, const std::string& path) {
                                      if (path == "/slow/")
                                          while (!s.ClientLeft(5))
                                              ;
                                      s.Reply("250 directory changed");
                                  }}},
                                {"one.txt"});
    Load({Watched(server.Url("/slow/")), Watched(server.Url("/quick/"))});
    const test::SaveCount count;
    Watch().CheckFiles();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Watch().GetURL(2)->GetFilesCount() == 1; }));
    EXPECT_EQ(count.Saves(Watch()), 0);
    QTimer* timer = form->findChild<QTimer*>("SaveTimer");
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_LE(timer->interval(), 10000);
    // Its time comes (made to come now): the merge is written though the run goes on.
    const int interval = timer->interval();
    timer->start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count.Saves(Watch()) == 1; }));
    timer->setInterval(interval);
    EXPECT_TRUE(Watch().GetURL(1)->IsChecking());
    EXPECT_FALSE(Watch().HasUnsavedChanges());

    // A URL added is saved at once (a command); its result waits, until the close.
    Watch().AddURL(server.Url("/also/"));
    EXPECT_EQ(count.Saves(Watch()), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Watch().GetURL(3)->GetFilesCount() == 1; }));
    EXPECT_EQ(count.Saves(Watch()), 2);
    form->close();
    EXPECT_EQ(count.Saves(Watch()), 3);
    // The slow check ends with the watch list, before its server goes.
    form.reset();
    DestroyMainInterface();
    EXPECT_EQ(count.Saves(), 3);
    MainInterface saved;
    ASSERT_EQ(saved.GetURLsCount(), 3);
    EXPECT_EQ(saved.GetURL(3)->GetFileName(1), "one.txt");
}

// Download... fetches the selected files into the folder the user picks; each
// row says where its file went; Cancel calls off a download that hangs.
TEST_F(MainFormFtpTest, DownloadsTheSelectedFilesAndCancelsWhatHangs) {
    test::PyFtpServer server;
    server.AddFile("pub/a.txt", "alpha");
    server.AddFile("pub/b b.txt", "bravo");
    server.AddFile("pub/c.txt", "charlie");
    FaultFtpServer stalled({{"RETR",
                             [](FaultFtpServer::Session& s, const std::string&) {
                                 s.Reply("150 here it comes, some day");
                                 s.OpenData();
                             }}},
                           {"never.bin"});
    Load({Watched(server.Url("/pub/")), Watched(stalled.Url("/"))});
    const std::string folder = ProgramDir + "got";
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, &answerer, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->setDirectory(QString::fromStdString(ProgramDir));
            dialog->selectFile(QString::fromStdString(folder));
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    answerer.start(10);
    std::filesystem::create_directories(folder);
    test::WriteBytes(folder + "/a.txt", "another");
    Watch().CheckFiles();
    ASSERT_TRUE(WaitForChecks());
    Select(0);
    ASSERT_EQ(FileRows(), QStringList({"a.txt:b", "b b.txt:b", "c.txt:b"}));
    Files().selectionModel()->select(Files().model()->index(0, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Files().selectionModel()->select(Files().model()->index(1, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Files().setFocus();
    QTest::keyClick(&Files(), Qt::Key_S, Qt::ControlModifier);
    // The download has a column of its own: the size stays in view.
    const auto sizeCell = [&](int row, int role) {
        return Files().model()->index(row, FilesModel::DownloadColumn).data(role).toString();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return sizeCell(1, Qt::DisplayRole) == "saved"; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sizeCell(0, Qt::DisplayRole) == "saved as a (2).txt"; }, 20000));
    EXPECT_EQ(Files().model()->index(0, FilesModel::SizeColumn).data().toString(), "5 B");
    EXPECT_EQ(test::ReadBytes(folder + "/a (2).txt"), "alpha");
    EXPECT_EQ(test::ReadBytes(folder + "/b b.txt"), "bravo");
    EXPECT_FALSE(FileExists(folder + "/c.txt"));
    EXPECT_EQ(sizeCell(1, Qt::ToolTipRole),
              QString::fromStdString("saved to " + folder + "/b b.txt"));
    EXPECT_TRUE(StatusMessage().startsWith("Downloaded 2 files to"))
        << StatusMessage().toStdString();
    EXPECT_TRUE(StatusMessage().contains("(a.txt as a (2).txt)")) << StatusMessage().toStdString();
    // A saved file can be handed to the desktop.
    Files().setCurrentIndex(Files().model()->index(1, 0));
    EXPECT_TRUE(form->findChild<QAction*>("OpenSavedFile")->isEnabled());

    // Copy URL: the file's URL, its name encoded.
    Files().selectionModel()->clearSelection();
    Files().selectionModel()->select(Files().model()->index(1, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form->findChild<QAction*>("CopyFileURL")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromStdString(server.Url("/pub/")) + "b%20b.txt");

    Select(1);
    Files().selectionModel()->select(Files().model()->index(0, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form->findChild<QAction*>("DownloadFiles")->trigger();
    auto* cancel = form->findChild<QPushButton*>("CancelDownloads");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sizeCell(0, Qt::DisplayRole) == "0 B"; }, 20000))
        << sizeCell(0, Qt::DisplayRole).toStdString();
    EXPECT_TRUE(cancel->isVisible());
    cancel->click();
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_EQ(sizeCell(0, Qt::DisplayRole), "cancelled");
    EXPECT_TRUE(Watch().Downloads().Pending(stalled.Url("/")).empty());
}

} // namespace
