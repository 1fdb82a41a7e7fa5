// The main window against real FTP servers: pyftpdlib for listings, the fault
// server for a check that waits on its server.

#include "ui/MainForm.h"

#include "app/FileIO_Code.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/ui/UiTestSupport.h"

#include <QEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace ornbrook;
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
    EXPECT_EQ(URLRows(), QStringList({url("/pub/") + ":b"}));
    QStringList rows = FileRows();
    rows.sort();
    EXPECT_EQ(rows, QStringList({"a.txt:b", "b.txt:b"}));

    server.AddFile("pub/c.txt");
    server.Remove("pub/a.txt");
    form->Menu("mnuRefresh")->trigger(); // acknowledges the changes
    EXPECT_EQ(URLRows(), QStringList({url("/pub/")}));
    Key(&URLs(), Qt::Key_Return);
    rows = FileRows();
    EXPECT_EQ(rows.takeLast(), "c.txt:b"); // new names come last
    rows.sort();
    EXPECT_EQ(rows, QStringList({"a.txt:g", "b.txt"}));
    EXPECT_EQ(URLRows(), QStringList({url("/pub/") + ":b"}));

    // F2, from either list, to another directory: the same entry, checked and merged.
    Key(form->Files(), Qt::Key_F2);
    EndEdit(url("/other/"), Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), server.Url("/other/"));
    rows = FileRows();
    EXPECT_EQ(rows.size(), 4);
    EXPECT_EQ(rows.last(), "x.txt:b");
    EXPECT_TRUE(rows.contains("b.txt:g"));
}

// The window keeps painting while a check waits for its server: the URL is seen
// grey, timer ticks are dropped, and a close request or a delete waits for the
// end of the check instead of pulling the watch list away under it.
TEST_F(MainFormFtpTest, SlowServerIsPaintedGreyAndWhatArrivesWaits) {
    std::atomic<bool> answer = false; // lets the slow server answer
    using Session = test::FaultFtpServer::Session;
    test::FaultFtpServer server({{"CWD",
                                  [&](Session& s, const std::string&) {
                                      while (!answer)
                                          std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                      s.Reply("250 directory changed");
                                  }}},
                                {"one.txt"});
    struct AnswerAtEnd {
        std::atomic<bool>& answer;
        ~AnswerAtEnd() { answer = true; }
    } answerAtEnd{answer};

    Load({Watched(server.Url("/slow/")), Watched("ftp://127.0.0.1:1/other/")}, true);
    WriteText(dir.File("interval.dat"), "1");

    // Watches the painting of the URLs; the first grey paint lets the server answer.
    struct PaintWatch : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } watch;
    QStringList during; // what the window did while the check ran
    watch.onPaint = [&] {
        if (!during.isEmpty() || !URLRows()[0].endsWith(":g"))
            return;
        during << "painted grey";
        QTimer::singleShot(0, &watch, [&] {
            if (form->close())
                during << "closed";
            form->CheckTimer_Timer(); // dropped: the counter stays
            Key(&URLs(), Qt::Key_Delete);
            during << QString("counter %1, %2 URLs")
                          .arg(form->CheckCounter())
                          .arg(Watch().GetURLsCount());
            answer = true;
        });
    };
    URLs().viewport()->installEventFilter(&watch);
    QTimer::singleShot(10000, &watch, [&] { answer = true; }); // a failing test never hangs
    Select(0);
    Key(&URLs(), Qt::Key_Return);
    URLs().viewport()->removeEventFilter(&watch);
    EXPECT_EQ(during, QStringList({"painted grey", "counter 0, 2 URLs"}));
    // The check ended normally: one new file, black and bold.
    EXPECT_EQ(Watch().GetURL(1)->GetFilesCount(), 1);
    EXPECT_EQ(URLRows()[0], QString::fromStdString(server.Url("/slow/")) + ":b");
    EXPECT_EQ(shutDowns, 0);
    EXPECT_TRUE(form->isVisible());
    // Then the delete runs, then the close.
    EXPECT_TRUE(QTest::qWaitFor([&] { return shutDowns == 1; }));
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), "ftp://127.0.0.1:1/other/");
    EXPECT_FALSE(form->isVisible());
}

} // namespace
