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
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace ornbrook;
using test::Watched;

namespace {

using MainFormFtpTest = test::MainFormFixture;

// The rows of the file list as "name:b" (bold), "name:g" (grey) or "name".
QStringList ShownFiles(const MainForm& form) {
    QStringList rows;
    const QAbstractItemModel* model = form.Files()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        const QModelIndex index = model->index(r, 0);
        QString row = index.data().toString();
        if (index.data(Qt::FontRole).value<QFont>().bold())
            row += ":b";
        if (index.data(Qt::ForegroundRole).value<QBrush>().color() == test::Grey)
            row += ":g";
        rows << row;
    }
    return rows;
}

TEST_F(MainFormFtpTest, AddCheckAcknowledgeAndRenameAgainstAServer) {
    test::PyFtpServer server;
    server.AddFile("pub/a.txt");
    server.AddFile("pub/b.txt");
    server.AddFile("other/x.txt");
    Load();
    Key(&URLs(), Qt::Key_Insert);
    EndEdit(QString::fromStdString(server.Url("/pub/")), Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_FALSE(Watch().GetURL(1)->IsError());
    EXPECT_EQ(Item(0)->foreground(0).color(), test::Black);
    EXPECT_TRUE(Item(0)->font(0).bold());
    QStringList rows = ShownFiles(*form);
    rows.sort();
    EXPECT_EQ(rows, QStringList({"a.txt:b", "b.txt:b"}));

    server.AddFile("pub/c.txt");
    server.Remove("pub/a.txt");
    form->Menu("mnuRefresh")->trigger();
    EXPECT_FALSE(Item(0)->font(0).bold());
    Key(&URLs(), Qt::Key_Return);
    rows = ShownFiles(*form);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows.contains("a.txt:g"));
    EXPECT_TRUE(rows.contains("b.txt"));
    EXPECT_EQ(rows.last(), "c.txt:b"); // new names come last
    EXPECT_TRUE(Item(0)->font(0).bold());

    // F2 to another directory: the same entry, checked at once, merged.
    Key(&URLs(), Qt::Key_F2);
    EndEdit(QString::fromStdString(server.Url("/other/")), Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), server.Url("/other/"));
    rows = ShownFiles(*form);
    EXPECT_EQ(rows.size(), 4);
    EXPECT_EQ(rows.last(), "x.txt:b");
    EXPECT_TRUE(rows.contains("b.txt:g"));

    // A directory that is not there: red, the entries kept.
    Key(&URLs(), Qt::Key_F2);
    EndEdit(QString::fromStdString(server.Url("/missing/")), Qt::Key_Return, true);
    EXPECT_EQ(Watch().GetURL(1)->GetErrorMsg(), "could not change dir");
    EXPECT_EQ(Item(0)->foreground(0).color(), test::Red);
    EXPECT_EQ(ShownFiles(*form).size(), 4);
}

// The window keeps painting while a check waits for its server: the URL is seen
// grey, timer ticks are dropped, and a close request or a delete waits for the
// end of the check instead of pulling the watch list away under it.
TEST_F(MainFormFtpTest, SlowServerIsPaintedGreyAndWhatArrivesWaits) {
    test::Gate gate;
    using Session = test::FaultFtpServer::Session;
    test::FaultFtpServer server({{"CWD",
                                  [&](Session& s, const std::string&) {
                                      gate.Wait();
                                      s.Reply("250 directory changed");
                                  }}},
                                {"one.txt"});
    struct OpenAtEnd {
        test::Gate& gate;
        ~OpenAtEnd() { gate.Open(); }
    } openAtEnd{gate};

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
    bool paintedGrey = false;
    bool closedDuringCheck = true;
    bool deletedDuringCheck = true;
    std::int64_t counterDuringCheck = -1;
    watch.onPaint = [&] {
        if (paintedGrey || Item(0)->foreground(0).color() != test::Grey)
            return;
        paintedGrey = true;
        QTimer::singleShot(0, [&] {
            closedDuringCheck = form->close();
            form->CheckTimer_Timer();
            counterDuringCheck = form->CheckCounter();
            Key(&URLs(), Qt::Key_Delete);
            deletedDuringCheck = Watch().GetURLsCount() != 2;
            gate.Open();
        });
    };
    URLs().viewport()->installEventFilter(&watch);
    QTimer::singleShot(10000, [&] { gate.Open(); }); // a failing test never hangs
    Select(0);
    Key(&URLs(), Qt::Key_Return);
    URLs().viewport()->removeEventFilter(&watch);

    EXPECT_TRUE(paintedGrey);
    EXPECT_FALSE(closedDuringCheck);
    EXPECT_FALSE(deletedDuringCheck);
    EXPECT_EQ(counterDuringCheck, 0);
    // The check ended normally: one new file, black and bold.
    EXPECT_EQ(Watch().GetURL(1)->GetFilesCount(), 1);
    EXPECT_EQ(Item(0)->foreground(0).color(), test::Black);
    EXPECT_TRUE(Item(0)->font(0).bold());
    EXPECT_EQ(shutDowns, 0);
    EXPECT_TRUE(form->isVisible());
    // Then the delete runs, then the close.
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return shutDowns == 1; }));
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), "ftp://127.0.0.1:1/other/");
    EXPECT_FALSE(form->isVisible());
}

} // namespace
